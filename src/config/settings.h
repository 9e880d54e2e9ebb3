#pragma once
// "Filesync.ini" in the hidden _config folder of the sync folder holds the
// deletion policy ("Basic"/"filedeletion") and the initial-synchronisation flag
// ("Basic"/"InitialSync"). Every access reads or writes through at once.
#include <cstdint>
#include <string>

#include "config/client_config.h"
#include "platform/ini_file.h"

namespace kq {

inline constexpr const char* kSettingsSection = "Basic";
inline constexpr const char* kDeletionKey = "filedeletion";
inline constexpr const char* kInitialSyncKey = "InitialSync";
inline constexpr const char* kUnicodeNamesKey = "UnicodeNames";
inline constexpr const char* kLogLevelKey = "LogLevel";
inline constexpr const char* kTrashDaysKey = "TrashDays";

// DeletionPolicy values of "filedeletion".
enum DeletionPolicy : int { kDeleteToTrash = 0, kDeleteKeep = 1, kDeleteLocally = 2 };

// settingsPath is the path of "Filesync.ini" for the sync folder shown in fields.
// With no configuration it is "\_config\Filesync.ini" at the root of the current drive.
std::string settingsPath(const ConfigFields& fields);

// readDeletionPolicy reads "filedeletion" (default 0, also for a value that is not a number).
int readDeletionPolicy(IniFile& ini, const std::string& iniPath);
[[nodiscard]] bool writeDeletionPolicy(IniFile& ini, const std::string& iniPath, int value);
// readInitialSync reads "InitialSync" (default 0); any value but 0 means done.
int readInitialSync(IniFile& ini, const std::string& iniPath);
[[nodiscard]] bool writeInitialSync(IniFile& ini, const std::string& iniPath, int value);
// readUnicodeNames reads "UnicodeNames" (default 0): 1 lets the client hold and
// send names outside the code page (it takes effect at the next start).
bool readUnicodeNames(IniFile& ini, const std::string& iniPath);
[[nodiscard]] bool writeUnicodeNames(IniFile& ini, const std::string& iniPath, bool on);

// readLogTrace reads "LogLevel": "trace" (any case) puts the per-packet
// protocol trace in the log file as well as in the window; anything else or
// nothing keeps it out of the file.
bool readLogTrace(IniFile& ini, const std::string& iniPath);

// readTrashDays reads "TrashDays" (default kDefaultTrashDays): entries of the
// trash folder older than that many days are removed; 0 (or less) keeps them.
inline constexpr int kDefaultTrashDays = 30;
int readTrashDays(IniFile& ini, const std::string& iniPath);

// The Settings window shows one option per policy: 0 = RadioButton1 (trash),
// 1 = RadioButton2 (keep), 2 = RadioButton3 (delete).
// deletionOptionFor picks the option for a stored value: 0 or less, 1, 2 or more.
int deletionOptionFor(int value);
// deletionValueFor is the value "OK" writes for the chosen option.
int deletionValueFor(int option);

// loadDeletionOption is what the window selects when it is created or shown.
int loadDeletionOption(IniFile& ini, const std::string& iniPath);
// saveDeletionOption is the window's "OK": writes the chosen option's value; a
// failure is ignored (the window closes either way), the result tells it.
bool saveDeletionOption(IniFile& ini, const std::string& iniPath, int option);

}  // namespace kq

namespace kq {

class FileSystem;
class Log;

// kSettingsMaxBytes bounds "Filesync.ini": a few keys never come near it.
inline constexpr std::uint64_t kSettingsMaxBytes = 64 * 1024;

// BoundedIniFile reads and writes the settings through inner only while the
// file is at most kSettingsMaxBytes long. A larger file (planted or damaged)
// is never read whole: its values read as the defaults, writes fail, and one
// shown line per size says so: "Filesync.ini is larger than 65536 bytes
// (N bytes); its settings are not used: PATH".
class BoundedIniFile : public IniFile {
 public:
  BoundedIniFile(IniFile& inner, FileSystem& fs, Log& log) : inner_(inner), fs_(fs), log_(log) {}
  int readInt(const std::string& path, const std::string& section, const std::string& key,
              int defaultValue) override;
  [[nodiscard]] bool writeInt(const std::string& path, const std::string& section, const std::string& key,
                              int value) override;
  std::optional<std::string> readText(const std::string& path, const std::string& section,
                                      const std::string& key) override;

 private:
  bool withinBound(const std::string& path);
  IniFile& inner_;
  FileSystem& fs_;
  Log& log_;
  std::uint64_t reportedSize_ = 0;  // the size last logged; 0 while none
};

}  // namespace kq
