#pragma once
// Recording doubles of the installer's ports. RecordingInstallerShell copies
// files inside a MemoryFileSystem, so a test sees the installed files.
#include <map>
#include <string>
#include <vector>

#include "installer/install_ports.h"
#include "support/memory_file_system.h"

namespace kq::test {

class RecordingInstallerShell : public installer::InstallerShell {
 public:
  explicit RecordingInstallerShell(MemoryFileSystem& fs) : fs_(fs) {}

  std::string moduleFileName() override { return module; }
  std::optional<std::string> profileFolder() override { return profile; }
  std::string environment(const std::string& name) override {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  }
  bool copyFile(const std::string& from, const std::string& to) override {
    calls.push_back("copy " + from + " -> " + to);
    auto content = fs_.content(from);
    if (!content || !fs_.isFolder(folderPart(to))) return false;
    return fs_.writeText(to, *content);
  }
  bool clearAttributes(const std::string& path) override {
    calls.push_back("clearAttributes " + path);
    return fs_.setAttributes(path, false, false);
  }
  std::int32_t createShortcut(const std::string& target, const std::string& link,
                      const std::string& description) override {
    calls.push_back("shortcut " + link + " -> " + target + " \"" + description + "\"");
    if (!fs_.isFolder(folderPart(link))) return static_cast<std::int32_t>(0x80070003u);  // the folder is missing
    return fs_.writeText(link, "link to " + target + " \"" + description + "\"") ? 0 : static_cast<std::int32_t>(0x80004005u);
  }
  void shellOpen(const std::string& file, const std::string& parameters) override {
    calls.push_back("open " + file + " " + parameters);
  }
  void sleep(int milliseconds) override { calls.push_back("sleep " + std::to_string(milliseconds)); }

  std::string module = "Z:\\dist\\KQFilesyncClient.exe";
  std::optional<std::string> profile = "C:\\users\\me";
  std::map<std::string, std::string> env{{"APPDATA", "C:\\users\\me\\AppData\\Roaming"}};
  std::vector<std::string> calls;

 private:
  static std::string folderPart(const std::string& path) {
    return path.substr(0, path.find_last_of('\\'));
  }
  MemoryFileSystem& fs_;
};

class RecordingRegistry : public installer::Registry {
 public:
  bool createKey(const std::string& key) override { return record("create " + key); }
  bool setDword(const std::string& key, const std::string& name, std::uint32_t value) override {
    return record("dword " + key + " " + name + "=" + std::to_string(value));
  }
  bool setString(const std::string& key, const std::string& name, const std::string& value) override {
    return record("string " + key + " " + name + "=" + value);
  }
  std::vector<std::string> calls;
  int failAtCall = -1;  // the index of the call that fails (-1: none)

 private:
  bool record(std::string call) {
    calls.push_back(std::move(call));
    return static_cast<int>(calls.size()) - 1 != failAtCall;
  }
};

struct ShownMessage {
  installer::MessageKind kind;
  std::string text;
  bool operator==(const ShownMessage&) const = default;
};

class RecordingInstallerMessages : public installer::InstallerMessages {
 public:
  void show(installer::MessageKind kind, const std::string& text) override {
    shown.push_back({kind, text});
  }
  bool ask(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
  std::vector<ShownMessage> shown;
  std::vector<std::string> asked;
  bool answer = true;  // what the user answers to every question
};

}  // namespace kq::test
