#include "config/settings.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"
#include "support/memory_ini_file.h"

namespace kq {
namespace {

using test::MemoryFileSystem;
using test::MemoryIniFile;

constexpr const char* kIni = "C:\\Sync\\_config\\Filesync.ini";

TEST(Settings, PathFollowsTheSyncFolderField) {
  ConfigFields f;
  f.syncFolder = "C:\\Sync";
  EXPECT_EQ(settingsPath(f), kIni);
  EXPECT_EQ(settingsPath(ConfigFields{}), "\\_config\\Filesync.ini");
}

TEST(Settings, LogLevelTraceSwitchesTheFileTraceOn) {
  const std::pair<const char*, bool> cases[] = {
      {"trace", true}, {"TRACE", true}, {"Trace", true}, {"", false}, {"debug", false}, {"traces", false}, {"1", false}};
  for (const auto& [value, on] : cases) {
    MemoryIniFile ini;
    ini.set(kIni, "Basic", "LogLevel", value);
    EXPECT_EQ(readLogTrace(ini, kIni), on) << value;
  }
  MemoryIniFile none;
  EXPECT_FALSE(readLogTrace(none, kIni));
}

TEST(Settings, KeysReadTheirDefaultsAndWriteThrough) {
  MemoryFileSystem fs;
  fs.addFolder("C:\\Sync\\_config");
  MemoryIniFile ini(&fs);
  EXPECT_EQ(readDeletionPolicy(ini, kIni), 0);
  EXPECT_EQ(readInitialSync(ini, kIni), 0);
  EXPECT_TRUE(writeDeletionPolicy(ini, kIni, 2));
  EXPECT_TRUE(writeInitialSync(ini, kIni, 1));
  EXPECT_EQ(ini.values.at({kIni, "Basic", "filedeletion"}), "2");
  EXPECT_EQ(ini.values.at({kIni, "Basic", "InitialSync"}), "1");
  EXPECT_EQ(readDeletionPolicy(ini, kIni), 2);
  EXPECT_EQ(readInitialSync(ini, kIni), 1);
  ini.set(kIni, "Basic", "filedeletion", "trash");
  EXPECT_EQ(readDeletionPolicy(ini, kIni), 0);
}

TEST(Settings, WritingWithoutTheFolderFails) {
  MemoryFileSystem fs;
  MemoryIniFile ini(&fs);
  EXPECT_FALSE(writeInitialSync(ini, "\\_config\\Filesync.ini", 1));
  EXPECT_FALSE(saveDeletionOption(ini, kIni, 2));
  EXPECT_EQ(loadDeletionOption(ini, kIni), 0);
}

TEST(SettingsWindow, OptionsFollowTheStoredValue) {
  const struct {
    const char* stored;  // nullptr: no key in the file
    int option;          // 0 = trash, 1 = keep, 2 = delete
    int saved;           // what "OK" writes without a change
  } cases[] = {
      {nullptr, 0, 0}, {"-1", 0, 0}, {"0", 0, 0}, {"1", 1, 1},
      {"2", 2, 2},     {"5", 2, 2},  {"x", 0, 0},
  };
  for (const auto& c : cases) {
    MemoryIniFile ini;
    if (c.stored) ini.set(kIni, "Basic", "filedeletion", c.stored);
    int option = loadDeletionOption(ini, kIni);
    EXPECT_EQ(option, c.option) << (c.stored ? c.stored : "none");
    EXPECT_TRUE(saveDeletionOption(ini, kIni, option));
    EXPECT_EQ(readDeletionPolicy(ini, kIni), c.saved) << (c.stored ? c.stored : "none");
  }
}

TEST(SettingsWindow, OkWritesTheChosenOption) {
  MemoryIniFile ini;
  for (int option : {0, 1, 2}) {
    EXPECT_TRUE(saveDeletionOption(ini, kIni, option));
    EXPECT_EQ(ini.values.at({kIni, "Basic", "filedeletion"}), std::to_string(option));
  }
  EXPECT_EQ(deletionValueFor(-1), 0);
  EXPECT_EQ(deletionValueFor(7), 0);
}

}  // namespace
}  // namespace kq
