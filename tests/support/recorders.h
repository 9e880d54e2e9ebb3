#pragma once
// Recording test doubles of the engine's ports: they keep every call so a test
// can read back exactly what was sent, shown and logged.
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_status.h"
#include "log/log.h"
#include "platform/process_runner.h"
#include "platform/links.h"
#include "platform/views.h"

namespace kq::test {

struct LogLine {
  std::string text;
  bool show;
  bool operator==(const LogLine&) const = default;
};

// PrintTo shows a log line readably in test failures.
inline void PrintTo(const LogLine& line, std::ostream* os) {
  *os << "{\"" << line.text << "\", " << (line.show ? "true" : "false") << "}";
}

class RecordingLog : public Log {
 public:
  void writeLog(const std::string& text, bool show) override { lines.push_back({text, show}); }
  // texts lists the logged texts (shown and quiet) in order.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (auto& l : lines) out.push_back(l.text);
    return out;
  }
  bool contains(const std::string& text) const {
    for (auto& l : lines)
      if (l.text == text) return true;
    return false;
  }
  std::vector<LogLine> lines;
};

class RecordingServerLink : public ServerLink {
 public:
  void renew() override { ++renewals; active = false; }
  void activate(const std::string& h, int p) override {
    if (active && (h != host || p != port)) throw LinkError("Cannot change host or port on an active connection");
    host = h;
    port = p;
    ++activations;
  }
  void deactivate() override { ++deactivations; active = false; }
  bool isActive() override { return active; }
  // send records what the link took. From the send numbered failFrom (0 for the
  // first) on, every send fails and is only counted in refusedSends.
  bool send(std::string_view bytes) override {
    if (failFrom >= 0 && static_cast<int>(sends.size()) >= failFrom) {
      ++refusedSends;
      return false;
    }
    sends.emplace_back(bytes);
    return true;
  }
  // sent is every byte sent, concatenated.
  std::string sent() const {
    std::string all;
    for (auto& s : sends) all += s;
    return all;
  }
  bool active = false;
  std::string host;
  int port = 0;
  int activations = 0, deactivations = 0, renewals = 0;
  int failFrom = -1;
  int refusedSends = 0;
  std::vector<std::string> sends;
};

class RecordingWatcherLink : public WatcherLink {
 public:
  void activate() override { ++activations; }
  bool isActive() override { return active; }
  bool active = false;
  int activations = 0;
};

class RecordingStatusView : public StatusView {
 public:
  void setPanel(int index, const std::string& text) override {
    if (index >= 0 && index < 7) panels[index] = text;
  }
  void setConnectCaption(const std::string& c) override { caption = c; }
  std::string panels[7];
  std::string caption = "Connect";
};

class RecordingFolderView : public FolderView {
 public:
  void showFolder(const std::string& folder) override { shown.push_back(folder); }
  std::string currentFolder() override { return folder; }
  std::string selectedFile() override { return selected; }
  std::vector<std::string> listedFiles() override { return files; }
  void refreshFiles() override { ++refreshes; }
  std::string folder;
  std::string selected;
  std::vector<std::string> files;
  std::vector<std::string> shown;
  int refreshes = 0;
};

class RecordingDialogs : public Dialogs {
 public:
  void information(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class RecordingProcessRunner : public ProcessRunner {
 public:
  MoveResult moveTree(const std::string& source, const std::string& destination) override {
    moves.emplace_back(source, destination);
    return delegate != nullptr ? delegate->moveTree(source, destination) : result;
  }
  std::vector<std::pair<std::string, std::string>> moves;
  MoveResult result{true, 0, {}};
  // delegate, when set, does the move (for example a PortableTreeMove on a real disk).
  ProcessRunner* delegate = nullptr;
};

// RecordingEngineStatus keeps every status record the engine published.
class RecordingEngineStatus : public EngineStatusPort {
 public:
  void publish(const EngineStatus& status) override { records.push_back(status); }
  const EngineStatus& last() const { return records.back(); }
  std::vector<EngineStatus> records;
};

}  // namespace kq::test
