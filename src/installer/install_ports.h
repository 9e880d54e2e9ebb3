#pragma once
// The ports through which the installation reaches the system beyond the file
// system: the shell (module name, profile folder, environment, copies,
// shortcuts, starting programs), the registry under HKEY_LOCAL_MACHINE and
// message boxes. The Win32 layer implements them; tests record the calls.
#include <cstdint>
#include <optional>
#include <string>

namespace kq::installer {

class InstallerShell {
 public:
  virtual ~InstallerShell() = default;
  // moduleFileName is the full path of the running executable.
  virtual std::string moduleFileName() = 0;
  // profileFolder is the user profile folder, nullopt when the shell cannot tell.
  virtual std::optional<std::string> profileFolder() = 0;
  // environment is the value of an environment variable, empty when unset.
  virtual std::string environment(const std::string& name) = 0;
  // copyFile copies from to to, replacing an existing file.
  [[nodiscard]] virtual bool copyFile(const std::string& from, const std::string& to) = 0;
  // clearAttributes gives a file the normal attributes (read-only, hidden, system cleared).
  [[nodiscard]] virtual bool clearAttributes(const std::string& path) = 0;
  // createShortcut saves a shell link to target with a description under linkPath;
  // returns the result code of the last shell step (0 on success).
  virtual std::int32_t createShortcut(const std::string& target, const std::string& linkPath,
                              const std::string& description) = 0;
  // shellOpen starts file with parameters through the "open" verb, shown normally.
  virtual void shellOpen(const std::string& file, const std::string& parameters) = 0;
  virtual void sleep(int milliseconds) = 0;
};

// Registry writes below HKEY_LOCAL_MACHINE. Each call opens the key, writes and
// closes it; true on success.
class Registry {
 public:
  virtual ~Registry() = default;
  [[nodiscard]] virtual bool createKey(const std::string& key) = 0;
  [[nodiscard]] virtual bool setDword(const std::string& key, const std::string& name,
                                      std::uint32_t value) = 0;
  [[nodiscard]] virtual bool setString(const std::string& key, const std::string& name,
                                       const std::string& value) = 0;
};

enum class MessageKind { Information, Error };

// InstallerMessages shows modal message boxes: Information is captioned
// "Information" with the exclamation icon, Error "Error" with the error icon.
class InstallerMessages {
 public:
  virtual ~InstallerMessages() = default;
  virtual void show(MessageKind kind, const std::string& text) = 0;
  // ask shows a warning with Yes and No; true for Yes.
  virtual bool ask(const std::string& text) = 0;
};

}  // namespace kq::installer
