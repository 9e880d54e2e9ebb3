#include "config/settings.h"

#include "log/log.h"
#include "platform/file_system.h"

namespace kq {

std::string settingsPath(const ConfigFields& fields) {
  return fields.syncFolder + "\\_config\\Filesync.ini";
}

int readDeletionPolicy(IniFile& ini, const std::string& iniPath) {
  return ini.readInt(iniPath, kSettingsSection, kDeletionKey, kDeleteToTrash);
}

bool writeDeletionPolicy(IniFile& ini, const std::string& iniPath, int value) {
  return ini.writeInt(iniPath, kSettingsSection, kDeletionKey, value);
}

int readInitialSync(IniFile& ini, const std::string& iniPath) {
  return ini.readInt(iniPath, kSettingsSection, kInitialSyncKey, 0);
}

bool writeInitialSync(IniFile& ini, const std::string& iniPath, int value) {
  return ini.writeInt(iniPath, kSettingsSection, kInitialSyncKey, value);
}

int deletionOptionFor(int value) {
  if (value <= 0) return 0;
  return value == 1 ? 1 : 2;
}

int deletionValueFor(int option) {
  if (option == 1) return kDeleteKeep;
  if (option == 2) return kDeleteLocally;
  return kDeleteToTrash;
}

int loadDeletionOption(IniFile& ini, const std::string& iniPath) {
  return deletionOptionFor(readDeletionPolicy(ini, iniPath));
}

bool saveDeletionOption(IniFile& ini, const std::string& iniPath, int option) {
  return writeDeletionPolicy(ini, iniPath, deletionValueFor(option));
}

bool readLogTrace(IniFile& ini, const std::string& iniPath) {
  auto value = ini.readText(iniPath, kSettingsSection, kLogLevelKey);
  if (!value) return false;
  std::string lower;
  for (char c : *value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "trace";
}

int readTrashDays(IniFile& ini, const std::string& iniPath) {
  int days = ini.readInt(iniPath, kSettingsSection, kTrashDaysKey, kDefaultTrashDays);
  return days > 0 ? days : 0;
}

bool readUnicodeNames(IniFile& ini, const std::string& iniPath) {
  return ini.readInt(iniPath, kSettingsSection, kUnicodeNamesKey, 0) == 1;
}

bool writeUnicodeNames(IniFile& ini, const std::string& iniPath, bool on) {
  return ini.writeInt(iniPath, kSettingsSection, kUnicodeNamesKey, on ? 1 : 0);
}

}  // namespace kq

namespace kq {

int BoundedIniFile::readInt(const std::string& path, const std::string& section, const std::string& key,
                            int defaultValue) {
  return withinBound(path) ? inner_.readInt(path, section, key, defaultValue) : defaultValue;
}

bool BoundedIniFile::writeInt(const std::string& path, const std::string& section, const std::string& key,
                              int value) {
  return withinBound(path) && inner_.writeInt(path, section, key, value);
}

std::optional<std::string> BoundedIniFile::readText(const std::string& path, const std::string& section,
                                                    const std::string& key) {
  return withinBound(path) ? inner_.readText(path, section, key) : std::nullopt;
}

bool BoundedIniFile::withinBound(const std::string& path) {
  std::uint64_t size = fs_.status(path).size;
  if (size <= kSettingsMaxBytes) {
    reportedSize_ = 0;
    return true;
  }
  if (size != reportedSize_) {
    log_.writeLog("Filesync.ini is larger than " + std::to_string(kSettingsMaxBytes) + " bytes (" +
                      std::to_string(size) + " bytes); its settings are not used: " + path, true);
    reportedSize_ = size;
  }
  return false;
}

}  // namespace kq
