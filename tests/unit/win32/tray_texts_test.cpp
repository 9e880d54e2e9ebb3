// The texts of the tray and of the window "Not synchronised" in wide characters.
#ifdef _WIN32
#include <gtest/gtest.h>

#include "ui/win32/main_window.h"
#include "ui/win32/not_synced_window.h"

namespace kq::win {
namespace {

TEST(TrayTexts, NamesOutsideTheCodePageReadAsThemselves) {
  EXPECT_EQ(notSyncedLine({"Жук.txt", "characters outside the code page 1252"}),
            L"Жук.txt\tcharacters outside the code page 1252");
  EXPECT_EQ(notSyncedLine({"docs/😀.txt", "r"}), L"docs/\U0001F600.txt\tr");
  EXPECT_EQ(notSyncedCount(0), L"Every name in the sync folder and on the server can be synchronised.");
  EXPECT_EQ(notSyncedCount(2).substr(0, 29), L"2 names are not synchronised.");
}

TEST(TrayTexts, TheTipIsOneLineOfAtMost127Characters) {
  EXPECT_EQ(trayTipText({TrayState::Synchronised, "Synchronised with h:1, last sync 14:05"}),
            L"Korvalinq Drive: Synchronised with h:1, last sync 14:05");
  std::wstring longTip = trayTipText({TrayState::Attention, std::string(200, 'x')});
  EXPECT_EQ(longTip.size(), 127u);
  EXPECT_EQ(longTip.substr(124), L"...");
  EXPECT_EQ(lastSyncText(std::nullopt), "");
  EXPECT_EQ(lastSyncText(1709820309).size(), 5u);
}

}  // namespace
}  // namespace kq::win
#endif
