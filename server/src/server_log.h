#pragma once
// ServerLog writes one stamped line per event ("yyyy/mm/dd hh:nn:ss [who] text")
// to a stream or to a sink (tests); thread-safe. Control bytes anywhere in a
// line are written as \xNN (see log_text.h), so every line is one line.
#include <functional>
#include <mutex>
#include <string>

namespace kqs {

class ServerLog {
 public:
  using Sink = std::function<void(const std::string&)>;
  // The default sink writes to standard error.
  ServerLog();
  explicit ServerLog(Sink sink) : sink_(std::move(sink)) {}
  void write(const std::string& who, const std::string& text);

 private:
  std::mutex mutex_;
  Sink sink_;
};

}  // namespace kqs
