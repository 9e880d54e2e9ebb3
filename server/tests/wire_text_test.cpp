#include "wire_text.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "sha256.h"

namespace kqs {
namespace {

TEST(WireText, ClientEscapesAreWindows1252Bytes) {
  // \u00e9 is the byte 0xE9 (é), \u0080 the byte 0x80 (the euro sign in Windows-1252).
  EXPECT_EQ(clientTextToUtf8("/caf\xc3\xa9.txt"), "/caf\xc3\xa9.txt");
  EXPECT_EQ(clientTextToUtf8("/\xc2\x80.txt"), "/\xe2\x82\xac.txt");
  EXPECT_EQ(clientTextToUtf8("/plain"), "/plain");
}

TEST(WireText, ServerStringsEscapeSlashesAndNonAscii) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"/docs/report.pdf", "\"\\/docs\\/report.pdf\""},
      {"/dir/", "\"\\/dir\\/\""},
      {"", "\"\""},
      {"/caf\xc3\xa9.txt", "\"\\/caf\\u00e9.txt\""},
      {"/\xe2\x82\xac", "\"\\/\\u20ac\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
  };
  for (auto& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.in;
  EXPECT_EQ(requestBody({{"filepath", "/a"}}), "{\"filepath\":\"\\/a\"}");
}

TEST(WireText, ClientPathsAreCheckedAndNormalized) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"/a/b.txt", "/a/b.txt"}, {"/dir/", "/dir"}, {"/", nullptr}, {"", nullptr}, {"a/b", nullptr},
      {"/a/../b", nullptr}, {"/a//b", nullptr}, {"/./a", nullptr}, {"/a\\b", nullptr}, {"/..", nullptr},
  };
  for (auto& c : cases) {
    auto got = normalizeClientPath(c.in);
    if (c.out == nullptr) EXPECT_FALSE(got) << c.in;
    else EXPECT_EQ(got.value_or("<none>"), c.out) << c.in;
  }
}

TEST(WireText, NamesOutsideTheSyncAreRecognised) {
  EXPECT_TRUE(isSystemPath("/_log"));
  EXPECT_TRUE(isSystemPath("/_config/Filesync.ini"));
  EXPECT_TRUE(isSystemPath("/_trash/a"));
  EXPECT_FALSE(isSystemPath("/_logs/a"));
  EXPECT_FALSE(isSystemPath("/docs/_log"));
  EXPECT_TRUE(isExcludedName("/a.tmp"));
  EXPECT_TRUE(isExcludedName("/A.TMP"));
  EXPECT_TRUE(isExcludedName("/~$budget.xlsx"));
  EXPECT_FALSE(isExcludedName("/report.Tmp"));
  EXPECT_FALSE(isSendablePath("/\xe4\xb8\xad.txt"));  // a character outside Windows-1252
  EXPECT_TRUE(isSendablePath("/caf\xc3\xa9.txt"));
  setUnicodeNames(true);  // clients with UnicodeNames=1 hold every character
  EXPECT_TRUE(isSendablePath("/\xe4\xb8\xad.txt"));
  EXPECT_TRUE(isSendablePath("/\xf0\x9f\x98\x80"));
  EXPECT_FALSE(isSendablePath("/a\\b"));
  setUnicodeNames(false);
}

TEST(WireText, ListingWithRepeatedMembersInOneObject) {
  std::string json =
      "{\"content\":[{\"filepath\":\"/a.txt\",\"size\":\"12\",\"mdate\":\"2024-03-07\",\"mtime\":\"14.05.09\","
      "\"filepath\":\"/docs\",\"size\":\"0\",\"mdate\":\"\",\"mtime\":\"\","
      "\"filepath\":\"/docs/caf\\u00e9.txt\",\"size\":\"0\",\"mdate\":\"2024-03-07\",\"mtime\":\"14.05.10\"}]}";
  auto listing = parseListing(json);
  ASSERT_TRUE(listing);
  ASSERT_EQ(listing->size(), 3u);
  EXPECT_EQ((*listing)[0].path, "/a.txt");
  EXPECT_EQ((*listing)[0].size, 12);
  EXPECT_FALSE((*listing)[0].isDir);
  EXPECT_EQ((*listing)[0].mtime, localStamp("2024-03-07", "14.05.09"));
  EXPECT_EQ(formatLocal((*listing)[0].mtime, "%Y-%m-%d %H.%M.%S"), "2024-03-07 14.05.09");
  EXPECT_TRUE((*listing)[1].isDir);
  EXPECT_EQ((*listing)[2].path, "/docs/caf\xc3\xa9.txt");
  EXPECT_FALSE((*listing)[2].isDir);  // an empty file has a date
}

// The client lists the entries of a subfolder behind the folder argument's own
// slash (//docs/report.pdf for /docs); the single-slash form is read as well.
TEST(WireText, SubfolderListingsInEitherForm) {
  struct Case { const char* listed; const char* path; } cases[] = {
      {"//docs/report.pdf", "/docs/report.pdf"},
      {"/docs/report.pdf", "/docs/report.pdf"},
      {"//docs//sub/a.txt", "/docs/sub/a.txt"},
      {"//caf\\u00e9/a", "/caf\xc3\xa9/a"},
  };
  for (auto& c : cases) {
    std::string json = std::string("{\"content\":[{\"filepath\":\"") + c.listed +
                       "\",\"size\":\"1\",\"mdate\":\"2024-03-07\",\"mtime\":\"14.05.09\"}]}";
    int skipped = -1;
    auto listing = parseListing(json, &skipped);
    ASSERT_TRUE(listing) << c.listed;
    ASSERT_EQ(listing->size(), 1u) << c.listed;
    EXPECT_EQ((*listing)[0].path, c.path);
    EXPECT_EQ(skipped, 0);
  }
}

// A double-byte character comes as two byte escapes and is read as one
// character of the client's code page; escapes beyond U+00FF are characters.
TEST(WireText, ClientBytesAreReadInTheClientsCodePage) {
  auto japanese = kq::makeCodePage(932);
  ASSERT_NE(japanese, nullptr);
  // U+0095 U+005C: the bytes 0x95 0x5C, the character U+8868.
  EXPECT_EQ(clientTextToUtf8("/\xc2\x95\x5c.txt", *japanese), "/\xe8\xa1\xa8.txt");
  EXPECT_EQ(clientTextToUtf8("/\xe6\x97\xa5", *japanese), "/\xe6\x97\xa5");  // U+65E5 itself
  auto cyrillic = kq::makeCodePage(1251);
  ASSERT_NE(cyrillic, nullptr);
  EXPECT_EQ(clientTextToUtf8("/\xc3\x8e", *cyrillic), "/\xd0\x9e");  // byte 0xCE: U+041E
}

// kqsyncd serve --codepage 1251: the clients' bytes are Cyrillic, and names of
// that code page are offered to them while Western accents are not.
TEST(WireText, ClientCodePageOfTheServer) {
  kqs::setClientCodePage(kq::makeCodePage(1251));
  auto listing = parseListing(
      "{\"content\":[{\"filepath\":\"/\\u00ce.txt\",\"size\":\"1\",\"mdate\":\"2024-03-07\",\"mtime\":\"14.05.09\"}]}");
  bool cyrillic = isSendablePath("/\xd0\x9e.txt");
  bool western = isSendablePath("/caf\xc3\xa9.txt");
  kqs::setClientCodePage(nullptr);
  ASSERT_TRUE(listing && listing->size() == 1u);
  EXPECT_EQ((*listing)[0].path, "/\xd0\x9e.txt");
  EXPECT_TRUE(cyrillic);
  EXPECT_FALSE(western);
  EXPECT_TRUE(isSendablePath("/caf\xc3\xa9.txt"));
}

TEST(WireText, EmptyAndBrokenListings) {
  auto empty = parseListing("{\"content\":[{}]}");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(parseListing("{\"content\":[{\"filepath\":\"/a\""));
  EXPECT_FALSE(parseListing("{\"other\":1}"));
  int skipped = 0;
  auto some = parseListing("{\"content\":[{\"filepath\":\"/../x\",\"size\":\"1\",\"mdate\":\"\",\"mtime\":\"\","
                           "\"filepath\":\"/ok\",\"size\":\"1\",\"mdate\":\"2024-01-01\",\"mtime\":\"00.00.00\"}]}",
                           &skipped);
  ASSERT_TRUE(some);
  EXPECT_EQ(some->size(), 1u);
  EXPECT_EQ(skipped, 1);
}

TEST(WireText, ChangeReportsOfTheClient) {
  struct Case {
    const char* json;
    const char* type;
    const char* path;
    bool folder;
    const char* newname;
    std::int64_t size;
  } cases[] = {
      {R"({"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07","time":"","mdate":"","mtime":"","size":"0","changetype":""}]})",
       "", "", false, "", 0},
      {R"({"date":"d","time":"","changes":[{"filepath":"/x/y.txt","date":"d","time":"","mdate":"","mtime":"","size":"-1","changetype":"DELETED"}]})",
       "DELETED", "/x/y.txt", false, "", -1},
      {R"({"date":"d","time":"","changes":[{"filepath":"/a.txt","date":"d","time":"","mdate":"","mtime":"","size":"1024","changetype":"MODIFIED"}]})",
       "MODIFIED", "/a.txt", false, "", 1024},
      {R"({"date":"d","time":"","changes":[{"filepath":"/sub/","newname":"sub2","date":"d","time":"","mdate":"","mtime":"","size":"","changetype":"RENAMED"}]})",
       "RENAMED", "/sub", true, "sub2", 0},
      {R"({"date":"d","time":"","changes":[{"filepath":"/caf\u00e9","date":"d","time":"","mdate":"","mtime":"","size":"3","changetype":"MODIFIED"}]})",
       "MODIFIED", "/caf\xc3\xa9", false, "", 3},
  };
  for (auto& c : cases) {
    auto r = parseChangeReport(c.json);
    ASSERT_TRUE(r) << c.json;
    EXPECT_EQ(r->changetype, c.type);
    EXPECT_EQ(r->path, c.path);
    EXPECT_EQ(r->folder, c.folder);
    EXPECT_EQ(r->newname, c.newname);
    EXPECT_EQ(r->size, c.size);
  }
  EXPECT_FALSE(parseChangeReport("{\"changes\":[]}"));
  EXPECT_FALSE(parseChangeReport(R"({"changes":[{"filepath":"/../etc","size":"1","changetype":"MODIFIED"}]})"));
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 split;  // block boundaries inside updates
  std::string text(1000, 'a');
  split.update(text.substr(0, 63));
  split.update(text.substr(63));
  EXPECT_EQ(split.hexDigest(), sha256Hex(text));
}

}  // namespace
}  // namespace kqs
