#ifdef _WIN32
#include "ui/win32/folder_chain.h"

#include <gtest/gtest.h>

#include "ui/win32/text.h"

namespace kq::win {
namespace {

using Chain = std::vector<std::pair<std::wstring, std::wstring>>;

TEST(FolderChain, FromRootDownToTheFolder) {
  EXPECT_EQ(folderChain(L"C:\\Sync\\docs"),
            (Chain{{L"C:\\", L"C:\\"}, {L"Sync", L"C:\\Sync"}, {L"docs", L"C:\\Sync\\docs"}}));
  EXPECT_EQ(folderChain(L"Z:\\tmp\\sync\\"), (Chain{{L"Z:\\", L"Z:\\"}, {L"tmp", L"Z:\\tmp"},
                                                   {L"sync", L"Z:\\tmp\\sync"}}));
  EXPECT_EQ(folderChain(L"C:\\"), (Chain{{L"C:\\", L"C:\\"}}));
  EXPECT_EQ(folderChain(L"C:"), (Chain{{L"C:\\", L"C:\\"}}));
  EXPECT_EQ(folderChain(L"\\\\server\\share\\a"),
            (Chain{{L"\\\\server\\share", L"\\\\server\\share"}, {L"a", L"\\\\server\\share\\a"}}));
  EXPECT_TRUE(folderChain(L"").empty());
  // A name outside the code page stays itself.
  EXPECT_EQ(folderChain(L"C:\\S\\\u0416\u0443\u043a"),
            (Chain{{L"C:\\", L"C:\\"}, {L"S", L"C:\\S"}, {L"\u0416\u0443\u043a", L"C:\\S\\\u0416\u0443\u043a"}}));
}

TEST(FolderChain, Separators) {
  EXPECT_EQ(withoutTrailingSeparator(L"C:\\Sync\\\\"), L"C:\\Sync");
  EXPECT_EQ(withoutTrailingSeparator(L"C:\\"), L"C:\\");
  EXPECT_EQ(withoutTrailingSeparator(L"C:"), L"C:\\");
  EXPECT_EQ(joinPath(L"C:\\", L"a.txt"), L"C:\\a.txt");
  EXPECT_EQ(joinPath(L"C:\\Sync", L"a.txt"), L"C:\\Sync\\a.txt");
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
