#include "installer/install_layout.h"

#include <gtest/gtest.h>

namespace kq::installer {
namespace {

TEST(InstallLayout, PlacesBuiltFromTheProfileAndAppData) {
  EXPECT_EQ(desktopShortcut("C:\\users\\me"), "C:\\users\\me\\Desktop\\Filesync.lnk");
  EXPECT_EQ(startupShortcut("C:\\users\\me\\AppData\\Roaming"),
            "C:\\users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Filesync.lnk");
  EXPECT_EQ(uninstallerPath("C:\\users\\me\\AppData\\Roaming"),
            "C:\\users\\me\\AppData\\Roaming\\Korvalinq Drive\\uninstall.exe");
  EXPECT_EQ(defaultSyncFolder("C:\\users\\me"), "C:\\users\\me\\Korvalinq Drive");
  EXPECT_EQ(defaultSyncFolder(""), "");
}

TEST(InstallLayout, SplitsTheExecutablePath) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
  } cases[] = {
      {"Z:\\dist\\KQFilesyncClient.exe", "Z:\\dist", "KQFilesyncClient.exe"},
      {"C:/a/b/setup.exe", "C:/a/b", "setup.exe"},
      {"C:\\x/y\\client.exe", "C:\\x/y", "client.exe"},
      {"client.exe", "", "client.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
    EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
  }
}

TEST(InstallLayout, ServiceCommandsAsTypedOnACommandLine) {
  EXPECT_STREQ(kServiceCreateParameters,
               R"(CREATE "ZRService" binPath= "C:\Program files (x86)\Korvalinq Drive\zrservice.exe" )"
               R"(DisplayName= "Korvalinq Drive Service" start=auto)");
  EXPECT_STREQ(kServiceStartParameters, "start ZRService");
}

}  // namespace
}  // namespace kq::installer
