#include "installer/register_uninstall.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/installer_doubles.h"

namespace kq::installer {
namespace {

const std::vector<std::string> kAllSteps = {
    "create SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive",
    "dword SYSTEM\\CurrentControlSet\\Control ServicesPipeTimeout=180000",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive DisplayName=Korvalinq Drive",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive "
    "UninstallString=C:\\users\\me\\AppData\\Roaming\\Korvalinq Drive\\uninstall.exe",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive Publisher=Halmo",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive DisplayVersion=0.4.2",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive "
    "InstallLocation=C:\\Program Files (x86)\\Korvalinq Drive\\",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive "
    "DisplayIcon=C:\\Program Files (x86)\\Korvalinq Drive\\KQFilesyncClient.exe",
    "string SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive "
    "DisplayName=Korvalinq Drive Filesync",
};
constexpr const char* kAppData = "C:\\users\\me\\AppData\\Roaming";

TEST(RegisterUninstall, WritesTheEntryInOrderAndCreatesTheUninstallerFolder) {
  test::MemoryFileSystem fs;
  test::RecordingRegistry registry;
  EXPECT_EQ(registerUninstall(registry, fs, kAppData), 1);
  EXPECT_EQ(registry.calls, kAllSteps);
  EXPECT_TRUE(fs.isFolder("C:\\users\\me\\AppData\\Roaming\\Korvalinq Drive"));
}

TEST(RegisterUninstall, TheFirstFailureEndsTheSequence) {
  for (int failing = 0; failing < static_cast<int>(kAllSteps.size()); ++failing) {
    SCOPED_TRACE(failing);
    test::MemoryFileSystem fs;
    test::RecordingRegistry registry;
    registry.failAtCall = failing;
    EXPECT_EQ(registerUninstall(registry, fs, kAppData), 0);
    EXPECT_EQ(registry.calls, std::vector<std::string>(kAllSteps.begin(), kAllSteps.begin() + failing + 1));
  }
}

TEST(RegisterUninstall, AnUninstallerFolderThatCannotBeMadeStopsBeforeItsPath) {
  test::MemoryFileSystem fs;
  fs.failOn(test::FsOp::CreateFolders);
  test::RecordingRegistry registry;
  EXPECT_EQ(registerUninstall(registry, fs, kAppData), 0);
  EXPECT_EQ(registry.calls, std::vector<std::string>(kAllSteps.begin(), kAllSteps.begin() + 3));
}

}  // namespace
}  // namespace kq::installer
