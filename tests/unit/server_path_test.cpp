#include "transfer/server_path.h"

#include <gtest/gtest.h>

#include "support/recorders.h"

namespace kq {
namespace {

struct PathCase {
  std::string value;  // as the dispatcher delivers it
  std::string path;   // expected local path, "" when refused
  bool folder;
};

TEST(LocalPathFromServer, DecodesEscapesAndAppendsToTheSyncFolder) {
  const PathCase cases[] = {
      {R"(\/docs\/report.pdf)", R"(C:\Sync\docs\report.pdf)", false},
      {R"(\/docs\/new\/)", R"(C:\Sync\docs\new)", true},
      {R"(\/a.txt)", R"(C:\Sync\a.txt)", false},
      {R"(\/caf\u00e9.txt)", "C:\\Sync\\caf\xe9.txt", false},
      {R"(\/\u20ac.txt)", "C:\\Sync\\\x80.txt", false},  // the euro sign is 0x80 in the code page
      {R"(\/a\/\/b.txt)", R"(C:\Sync\a\b.txt)", false},   // runs of separators count as one
      {R"(\\docs\\a.txt)", R"(C:\Sync\docs\a.txt)", false},
      {R"(\/it's here\/x y.txt)", R"(C:\Sync\it's here\x y.txt)", false},
      {R"(\/a..b\/c.d\/e)", R"(C:\Sync\a..b\c.d\e)", false},
      {R"(\/CONSOLE.txt\/COM10)", R"(C:\Sync\CONSOLE.txt\COM10)", false},
      {"\\/" + std::string(127, '\xe9'), "C:\\Sync\\" + std::string(127, '\xe9'), false},  // 254 bytes in UTF-8
  };
  for (const auto& c : cases) {
    LocalPath local = localPathFromServer("C:\\Sync", c.value);
    ASSERT_TRUE(local.ok()) << c.value << ": " << local.refusal;
    EXPECT_EQ(local.path, c.path) << c.value;
    EXPECT_EQ(local.folder, c.folder) << c.value;
  }
}

TEST(LocalPathFromServer, RefusesPathsThatLeaveTheSyncFolder) {
  struct Refused {
    std::string value;
    std::string reason;
  };
  const Refused cases[] = {
      {R"(\/..\/outside.txt)", "a parent folder segment"},
      {R"(\/docs\/..\/..\/x)", "a parent folder segment"},
      {R"(\/docs\/...\/x)", "a parent folder segment"},
      {R"(\/.. \/x)", "a parent folder segment"},
      {R"(\/C:\/Windows\/x.dll)", "a drive letter or colon"},
      {R"(\/a.txt:stream)", "a drive letter or colon"},
      {R"(\/\/server\/share\/x)", "a UNC or device prefix"},
      {R"(\\\\?\\C:\\x)", "a UNC or device prefix"},
      {R"(\/CON)", "a device name"},
      {R"(\/docs\/nul.txt)", "a device name"},
      {R"(\/com1)", "a device name"},
      {R"(outside.txt)", "the path does not start with a separator"},
      {R"(..\/x)", "the path does not start with a separator"},
      {R"(\/a\u0000b)", "a control character"},
      {R"(\/a\nb)", "a control character"},
      {R"(\/a?b)", "a character not allowed in file names"},
      {R"(\/a\"b)", "a character not allowed in file names"},
      {R"(\/\u4e2d.txt)", "a character outside the ANSI code page"},
      {R"(\/a\/.\/c)", "a current folder segment"},
      {R"(\/notes.\/x)", "a name ending in a dot or blank"},
      {R"(\/x.txt )", "a name ending in a dot or blank"},
      {R"(\/a*b)", "a character not allowed in file names"},
      {R"(\/a|b)", "a character not allowed in file names"},
      {R"(\/LPT9.log)", "a device name"},
      {"\\/" + std::string(256, 'n'), "a name longer than 255 bytes"},
      {"\\/" + std::string(128, '\xe9'), "a name longer than 255 bytes"},  // 128 characters, 256 bytes in UTF-8
      {R"(\/a\x)", "an invalid escape"},
      {R"(\/a\u12)", "an invalid escape"},
      {R"(\/a\)", "an incomplete escape"},
      {R"(\/)", "it names the sync folder itself"},
      {R"()", "it names the sync folder itself"},
  };
  for (const auto& c : cases) {
    LocalPath local = localPathFromServer("C:\\Sync", c.value);
    EXPECT_FALSE(local.ok()) << c.value;
    EXPECT_EQ(local.refusal, c.reason) << c.value;
    EXPECT_EQ(local.path, "") << c.value;
  }
}

TEST(LocalPathFromServer, TheSyncFolderItselfServesListings) {
  for (std::string value : {"", "\\/"}) {
    LocalPath local = localPathFromServer("C:\\Sync", value, RootUse::Allow);
    ASSERT_TRUE(local.ok()) << value;
    EXPECT_EQ(local.path, "C:\\Sync");
    EXPECT_FALSE(local.folder);
  }
  EXPECT_FALSE(localPathFromServer("C:\\Sync", "\\/..", RootUse::Allow).ok());
}

TEST(LocalPathFromServer, RefusalIsLoggedWithTheValueAndTheReason) {
  test::RecordingLog log;
  LocalPath local = localPathFromServer("C:\\Sync", "\\/..\\/x");
  logRefusal(log, "\\/..\\/x", local);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text, "Refused server path \\/..\\/x: a parent folder segment");
  EXPECT_TRUE(log.lines[0].show);
}

}  // namespace
}  // namespace kq
