#include "server_log.h"

#include <cstdio>
#include <ctime>

#include "log_text.h"
#include "wire_text.h"

namespace kqs {

ServerLog::ServerLog()
    : sink_([](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
      }) {}

void ServerLog::write(const std::string& who, const std::string& text) {
  std::string line = formatLocal(static_cast<std::int64_t>(std::time(nullptr)), "%Y/%m/%d %H:%M:%S");
  line += who.empty() ? " " : " [" + escapeLogText(who) + "] ";
  line += escapeLogText(text);
  std::lock_guard lock(mutex_);
  sink_(line);
}

}  // namespace kqs
