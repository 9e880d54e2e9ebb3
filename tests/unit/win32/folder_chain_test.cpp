#ifdef _WIN32
#include "ui/win32/folder_chain.h"

#include <gtest/gtest.h>

#include "ui/win32/text.h"

namespace kq::win {
namespace {

using Chain = std::vector<std::pair<std::string, std::string>>;

TEST(FolderChain, FromRootDownToTheFolder) {
  EXPECT_EQ(folderChain("C:\\Sync\\docs"),
            (Chain{{"C:\\", "C:\\"}, {"Sync", "C:\\Sync"}, {"docs", "C:\\Sync\\docs"}}));
  EXPECT_EQ(folderChain("Z:\\tmp\\sync\\"), (Chain{{"Z:\\", "Z:\\"}, {"tmp", "Z:\\tmp"},
                                                   {"sync", "Z:\\tmp\\sync"}}));
  EXPECT_EQ(folderChain("C:\\"), (Chain{{"C:\\", "C:\\"}}));
  EXPECT_EQ(folderChain("C:"), (Chain{{"C:\\", "C:\\"}}));
  EXPECT_EQ(folderChain("\\\\server\\share\\a"),
            (Chain{{"\\\\server\\share", "\\\\server\\share"}, {"a", "\\\\server\\share\\a"}}));
  EXPECT_TRUE(folderChain("").empty());
}

TEST(FolderChain, Separators) {
  EXPECT_EQ(withoutTrailingSeparator("C:\\Sync\\\\"), "C:\\Sync");
  EXPECT_EQ(withoutTrailingSeparator("C:\\"), "C:\\");
  EXPECT_EQ(withoutTrailingSeparator("C:"), "C:\\");
  EXPECT_EQ(joinPath("C:\\", "a.txt"), "C:\\a.txt");
  EXPECT_EQ(joinPath("C:\\Sync", "a.txt"), "C:\\Sync\\a.txt");
}

TEST(MemoLines, SplitAndJoinAsAMultiLineEditHoldsThem) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {".tmp\r\n.TMP", {".tmp", ".TMP"}},
      {".tmp\r\n.TMP\r\n", {".tmp", ".TMP"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"~", {"~"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitLines(c.text), c.lines) << c.text;
  EXPECT_EQ(joinLines({".tmp", ".TMP"}), ".tmp\r\n.TMP");
  EXPECT_EQ(splitLines(joinLines({"a", "", "b"})), (std::vector<std::string>{"a", "", "b"}));
}

TEST(MemoLines, AnsiTextRoundTrips) {
  const std::string cafe = "caf\xe9.txt";  // Windows-1252
  EXPECT_EQ(toWide(cafe), L"caf\u00e9.txt");
  EXPECT_EQ(toAnsi(toWide(cafe)), cafe);
}

}  // namespace
}  // namespace kq::win
#endif
