#include "uninstall/uninstall_steps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/client_config.h"
#include "support/memory_file_system.h"

namespace kq::uninstall {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kProgram = "C:\\Program files (x86)\\Korvalinq Drive";
constexpr const char* kAppData = "C:\\users\\me\\AppData\\Roaming";
constexpr const char* kStartup =
    "C:\\users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Filesync.lnk";

class FakeUninstallSystem : public UninstallSystem {
 public:
  bool endClient() override { return calls.push_back("endClient"), clientEnds; }
  bool removeService() override { return calls.push_back("removeService"), serviceGoes; }
  bool deleteKey(const std::string& key) override { return calls.push_back("deleteKey " + key), keyGoes; }
  std::optional<std::string> profileFolder() override { return std::string("C:\\users\\me"); }
  std::string environment(const std::string& name) override { return name == "APPDATA" ? kAppData : ""; }
  bool removeAtRestart(const std::string& path) override {
    calls.push_back("removeAtRestart " + path);
    return restartRemoves;
  }
  bool clientEnds = true, serviceGoes = true, keyGoes = true, restartRemoves = false;
  std::vector<std::string> calls;
};

class UninstallSteps : public ::testing::Test {
 protected:
  void install(const std::string& syncFolder) {
    fs.addFile(std::string(kProgram) + "\\KQFilesyncClient.exe", "client");
    fs.addFile(std::string(kProgram) + "\\zrservice.exe", "service");
    ClientConfig record = makeClientConfig(std::string(kProgram) + "\\KQFilesyncClient.exe");
    ConfigFields fields{"host", "21234", "00003", "1234", "key", syncFolder};
    saveConfig(record, fields, fs);
    fs.addFile(std::string(kAppData) + "\\Korvalinq Drive\\uninstall.exe", "uninstaller");
    fs.addFile("C:\\users\\me\\Desktop\\Filesync.lnk", "link");
    fs.addFile(kStartup, "link");
    fs.addFile(syncFolder + "\\docs\\report.txt", "the user's work");
  }
  test::MemoryFileSystem fs;
  FakeUninstallSystem system;
};

TEST_F(UninstallSteps, RemovesEverythingButTheSyncFolder) {
  install("C:\\users\\me\\Korvalinq Drive");
  EXPECT_THAT(Uninstallation(fs, system).run(), IsEmpty());
  EXPECT_THAT(system.calls,
              ElementsAre("endClient", "removeService",
                          "deleteKey SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive"));
  for (const char* gone : {kProgram, "C:\\users\\me\\Desktop\\Filesync.lnk", kStartup,
                           "C:\\users\\me\\AppData\\Roaming\\Korvalinq Drive"})
    EXPECT_FALSE(fs.exists(gone)) << gone;
  EXPECT_EQ(fs.content("C:\\users\\me\\Korvalinq Drive\\docs\\report.txt"), "the user's work");
}

TEST_F(UninstallSteps, ASyncFolderInsideTheProgramFolderIsKept) {
  install("C:\\Program files (x86)\\Korvalinq Drive\\Data");
  EXPECT_THAT(Uninstallation(fs, system).run(), IsEmpty());
  EXPECT_FALSE(fs.exists(std::string(kProgram) + "\\KQFilesyncClient.exe"));
  EXPECT_FALSE(fs.exists(std::string(kProgram) + "\\filesync.cfg"));
  EXPECT_EQ(fs.content(std::string(kProgram) + "\\Data\\docs\\report.txt"), "the user's work");
}

TEST_F(UninstallSteps, WhatCannotBeRemovedIsReportedAndTheRestStillGoes) {
  install("C:\\users\\me\\Korvalinq Drive");
  system.clientEnds = false;
  system.serviceGoes = false;
  system.keyGoes = false;
  fs.failOn(test::FsOp::RemoveAll, kProgram);
  auto left = Uninstallation(fs, system).run();
  EXPECT_THAT(left, ElementsAre("the running Korvalinq Drive client", "the service ZRService", kProgram,
                                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                "Korvalinq Drive"));
  EXPECT_FALSE(fs.exists(kStartup));
  EXPECT_EQ(reportText(left),
            "Korvalinq Drive could not be removed completely. Left in place:\n\nthe running Korvalinq Drive "
            "client\nthe service ZRService\nC:\\Program files (x86)\\Korvalinq Drive\nHKEY_LOCAL_MACHINE\\SOFTWARE"
            "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive\n\nRestart Windows and run the "
            "uninstaller again, or delete what is left by hand.");
  EXPECT_EQ(reportText({}), "Korvalinq Drive has been removed from this computer.\nYour sync folder was left untouched.");
}

TEST_F(UninstallSteps, AFolderStillInUseGoesAtTheNextRestartAndTheMessageSaysSo) {
  install("C:\\users\\me\\Korvalinq Drive");
  system.restartRemoves = true;
  fs.failOn(test::FsOp::RemoveAll, kProgram);
  Uninstallation uninstallation(fs, system);
  auto left = uninstallation.run();
  EXPECT_THAT(left, IsEmpty());
  EXPECT_THAT(uninstallation.atRestart(), ElementsAre(kProgram));
  EXPECT_THAT(system.calls, ::testing::Contains(std::string("removeAtRestart ") + kProgram));
  EXPECT_EQ(reportText(left, uninstallation.atRestart()),
            "Korvalinq Drive has been removed from this computer.\nYour sync folder was left untouched.\n\n"
            "Still in use, and removed by Windows at the next restart:\n\nC:\\Program files (x86)\\Korvalinq Drive");
  EXPECT_EQ(fs.content("C:\\users\\me\\Korvalinq Drive\\docs\\report.txt"), "the user's work");
}

TEST_F(UninstallSteps, NothingInstalledIsNotAFailure) {
  EXPECT_THAT(Uninstallation(fs, system).run(), IsEmpty());
}

TEST(UninstallIsInside, ComparesLikeWindows) {
  const struct {
    const char* path;
    const char* folder;
    bool inside;
  } cases[] = {
      {"C:\\Program files (x86)\\Korvalinq Drive", "C:\\Program Files (x86)\\Korvalinq Drive\\", true},
      {"c:/program files (x86)/korvalinq drive/data", "C:\\Program files (x86)\\Korvalinq Drive", true},
      {"C:\\Program files (x86)\\Korvalinq Drive2", "C:\\Program files (x86)\\Korvalinq Drive", false},
      {"C:\\users\\me", "C:\\users\\me\\Korvalinq Drive", false},
      {"", "C:\\x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isInside(c.path, c.folder), c.inside) << c.path;
}

}  // namespace
}  // namespace kq::uninstall
