#include "installer/install_procedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "installer/install_layout.h"
#include "support/installer_doubles.h"

namespace kq::installer {
namespace {

using test::ShownMessage;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kProgram = "C:\\Program files (x86)\\Korvalinq Drive";
constexpr const char* kAppData = "C:\\users\\me\\AppData\\Roaming";

class InstallProcedure : public ::testing::Test {
 protected:
  InstallProcedure() {
    fs.mountDrive("Z:");
    fs.addFile("Z:\\dist\\KQFilesyncClient.exe", "client");
    fs.addFile("Z:\\dist\\zrservice.exe", "service");
    fs.addFile("Z:\\dist\\uninstall.exe", "uninstaller");
    fs.addFolder("C:\\users\\me\\Desktop");
  }
  InstallResult configure(const InstallerInput& input) { return installation.configure(input); }

  test::MemoryFileSystem fs;
  test::RecordingInstallerShell shell{fs};
  test::RecordingRegistry registry;
  test::RecordingInstallerMessages messages;
  ConfigFields fields;
  Installation installation{{fs, shell, registry, messages}, fields};
  const InstallerInput good{"sync.example.com", "0042", "abcdefghijklmnopqrstuvwx", "C:\\users\\me\\Korvalinq Drive"};
};

TEST_F(InstallProcedure, InstallsEverythingInOrder) {
  EXPECT_EQ(configure(good), InstallResult::Installed);
  EXPECT_THAT(messages.shown, IsEmpty());
  EXPECT_THAT(installation.quietFailures(), IsEmpty());
  EXPECT_TRUE(fs.isFolder("C:\\users\\me\\Korvalinq Drive"));
  EXPECT_EQ(fs.content(std::string(kProgram) + "\\filesync.cfg"),
            "{\"KQFilsyncConfig\":[{\"Host\":\"sync.example.com\",\"port\":\"20042\","
            "\"protocol\":\"00003\",\"contract\":\"0042\",\"API-key\":\"abcdefghijklmnopqrstuvwx\","
            "\"KQDir\":\"C:\\\\users\\\\me\\\\Korvalinq Drive\",\"Reconnect\":\"1\"}]}");
  EXPECT_FALSE(fs.exists("Z:\\dist\\filesync.cfg"));
  EXPECT_EQ(fs.content(std::string(kProgram) + "\\KQFilesyncClient.exe"), "client");
  EXPECT_EQ(fs.content(std::string(kProgram) + "\\zrservice.exe"), "service");
  EXPECT_EQ(fs.content(std::string(kAppData) + "\\Korvalinq Drive\\uninstall.exe"), "uninstaller");
  auto desktop = fs.content("C:\\users\\me\\Desktop\\Filesync.lnk");
  ASSERT_TRUE(desktop);
  EXPECT_EQ(fs.content(std::string(kAppData) +
                       "\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Filesync.lnk"),
            *desktop);
  EXPECT_THAT(
      shell.calls,
      ElementsAre(
          "copy Z:\\dist\\KQFilesyncClient.exe -> C:\\Program files (x86)\\Korvalinq Drive\\KQFilesyncClient.exe",
          "copy Z:\\dist\\zrservice.exe -> C:\\Program files (x86)\\Korvalinq Drive\\zrservice.exe",
          "copy Z:\\dist\\filesync.cfg -> C:\\Program files (x86)\\Korvalinq Drive\\filesync.cfg",
          "clearAttributes Z:\\dist\\filesync.cfg",
          "copy Z:\\dist\\uninstall.exe -> C:\\users\\me\\AppData\\Roaming\\Korvalinq Drive\\uninstall.exe",
          "shortcut C:\\users\\me\\Desktop\\Filesync.lnk -> C:\\Program files (x86)\\Korvalinq "
          "Drive\\KQFilesyncClient.exe \"Korvalinq Drive Client\"",
          "copy C:\\users\\me\\Desktop\\Filesync.lnk -> C:\\users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start "
          "Menu\\Programs\\Startup\\Filesync.lnk",
          "open SC CREATE \"ZRService\" binPath= \"C:\\Program files (x86)\\Korvalinq Drive\\zrservice.exe\" "
          "DisplayName= \"Korvalinq Drive Service\" start=auto",
          "sleep 2000", "open sc start ZRService"));
  EXPECT_EQ(registry.calls.size(), 9u);  // registerUninstall ran to its end
}

TEST_F(InstallProcedure, InputProblemsStopBeforeAnythingIsWritten) {
  const struct {
    InstallerInput input;
    const char* message;
  } cases[] = {
      {{"ab", "1234", "key", "C:\\S"}, "Host name expected!"},
      {{"abc", "", "key", "C:\\S"}, "Contract name expected!"},
      {{"abc", "1234", "", "C:\\S"}, "API key expected!"},
      {{"abc", "1234", "key", ""}, "Korvalinq Drive destination path expected!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto before = fs.entries();
    messages.shown.clear();
    EXPECT_EQ(configure(c.input), InstallResult::Stopped);
    EXPECT_THAT(messages.shown, ElementsAre(ShownMessage{MessageKind::Information, c.message}));
    EXPECT_EQ(fs.entries(), before);
    EXPECT_THAT(shell.calls, IsEmpty());
    EXPECT_THAT(registry.calls, IsEmpty());
    // The configuration fields are filled even when the input is refused.
    EXPECT_EQ(fields.host, c.input.host);
    EXPECT_EQ(fields.port, "2" + c.input.contract);
  }
}

TEST_F(InstallProcedure, FolderFailuresStopWithAnError) {
  fs.failOn(test::FsOp::CreateFolders, "C:\\users\\me\\Korvalinq Drive");
  EXPECT_EQ(configure(good), InstallResult::Stopped);
  EXPECT_THAT(messages.shown,
              ElementsAre(ShownMessage{MessageKind::Error, "Error in Filesync installation!"}));
  EXPECT_FALSE(fs.exists(kProgram));

  fs.clearFailures();
  fs.failOn(test::FsOp::CreateFolders, kProgram);
  messages.shown.clear();
  EXPECT_EQ(configure(good), InstallResult::Stopped);
  EXPECT_THAT(messages.shown,
              ElementsAre(ShownMessage{MessageKind::Error, "Can not create directory for application!"}));
  EXPECT_TRUE(fs.isFolder("C:\\users\\me\\Korvalinq Drive"));  // kept: nothing is undone
  EXPECT_FALSE(fs.exists("Z:\\dist\\filesync.cfg"));
  EXPECT_THAT(shell.calls, IsEmpty());
}

TEST_F(InstallProcedure, MissingProfileFolderStopsAfterTheCopies) {
  shell.profile.reset();
  EXPECT_EQ(configure(good), InstallResult::Stopped);
  EXPECT_THAT(messages.shown, ElementsAre(ShownMessage{MessageKind::Error, "Can not get folder path!"}));
  EXPECT_TRUE(fs.isFile(std::string(kProgram) + "\\filesync.cfg"));
  EXPECT_FALSE(fs.exists(std::string(kAppData) + "\\Korvalinq Drive"));
  EXPECT_THAT(registry.calls, IsEmpty());
  EXPECT_EQ(shell.calls.back(), "clearAttributes Z:\\dist\\filesync.cfg");
}

TEST_F(InstallProcedure, LaterFailuresAreQuietAndTheRestStillRuns) {
  ASSERT_TRUE(fs.remove("Z:\\dist\\zrservice.exe"));
  registry.failAtCall = 0;  // no rights on HKEY_LOCAL_MACHINE
  ASSERT_TRUE(fs.removeAll("C:\\users\\me\\Desktop"));
  EXPECT_EQ(configure(good), InstallResult::Installed);
  EXPECT_THAT(messages.shown, IsEmpty());
  EXPECT_THAT(
      installation.quietFailures(),
      ElementsAre("Cannot copy Z:\\dist\\zrservice.exe to C:\\Program files (x86)\\Korvalinq Drive\\zrservice.exe",
                  "Cannot create C:\\users\\me\\Desktop\\Filesync.lnk (0x80070003)",
                  "Cannot copy C:\\users\\me\\Desktop\\Filesync.lnk to C:\\users\\me\\AppData\\Roaming\\Microsoft"
                  "\\Windows\\Start Menu\\Programs\\Startup\\Filesync.lnk",
                  "Cannot register the uninstall entry"));
  EXPECT_EQ(shell.calls.back(), "open sc start ZRService");
  EXPECT_TRUE(fs.isFile(std::string(kProgram) + "\\KQFilesyncClient.exe"));
}

TEST_F(InstallProcedure, ConfigureAgainReplacesTheInstalledFiles) {
  ASSERT_EQ(configure(good), InstallResult::Installed);
  fs.addFile("Z:\\dist\\KQFilesyncClient.exe", "client 2");
  InstallerInput changed = good;
  changed.contract = "1234";
  ASSERT_EQ(configure(changed), InstallResult::Installed);
  EXPECT_THAT(installation.quietFailures(), IsEmpty());
  EXPECT_EQ(fs.content(std::string(kProgram) + "\\KQFilesyncClient.exe"), "client 2");
  auto config = fs.content(std::string(kProgram) + "\\filesync.cfg");
  ASSERT_TRUE(config);
  EXPECT_NE(config->find("\"port\":\"21234\",\"protocol\":\"00003\",\"contract\":\"1234\""), std::string::npos);
}

}  // namespace
}  // namespace kq::installer

namespace kq::installer {
namespace {

class InstallKeyWarning : public InstallProcedure {};

TEST_F(InstallKeyWarning, AKeyOfAnotherFormIsInstalledOnlyWhenTheUserSaysSo) {
  InstallerInput shortKey = good;
  shortKey.apiKey = "abcdefghijklmnopqrstuvw";
  messages.answer = false;
  EXPECT_EQ(configure(shortKey), InstallResult::Stopped);
  ASSERT_EQ(messages.asked.size(), 1u);
  EXPECT_EQ(messages.asked[0], *apiKeyWarning(shortKey.apiKey));
  EXPECT_FALSE(fs.exists("C:\\users\\me\\Korvalinq Drive")) << "nothing is made before the answer";
  EXPECT_FALSE(fs.exists(std::string(kProgram) + "\\filesync.cfg"));
  messages.answer = true;
  EXPECT_EQ(configure(shortKey), InstallResult::Installed);
  EXPECT_NE(fs.content(std::string(kProgram) + "\\filesync.cfg")->find("\"API-key\":\"abcdefghijklmnopqrstuvw\""),
            std::string::npos);
}

TEST_F(InstallKeyWarning, AKeyOfTheRightFormAsksNothing) {
  EXPECT_EQ(configure(good), InstallResult::Installed);
  EXPECT_THAT(messages.asked, IsEmpty());
}

}  // namespace
}  // namespace kq::installer
