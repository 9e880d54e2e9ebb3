// The client's texts read by the server's parsers: what a client reports or
// lists is what kqsyncd understands, in the code pages the clients run with.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "wire/change_report.h"
#include "wire/client_text.h"
#include "wire/listing.h"

namespace kq {
namespace {

struct ReportCase {
  unsigned codePage;
  ChangeRecord record;       // the client's local text
  std::string path;          // what the server reads, UTF-8
  bool folder;
  std::string newname;       // UTF-8
  std::int64_t size;
};

TEST(ChangeReportRoundTrip, TheServerReadsWhatTheClientReports) {
  const ReportCase cases[] = {
      {1252, {"/a.txt", 1024, "MODIFIED", ""}, "/a.txt", false, "", 1024},
      {1252, {"/x/y.txt", -1, "DELETED", ""}, "/x/y.txt", false, "", -1},
      {1252, {"/sub/", 0, "RENAMED", "sub2"}, "/sub", true, "sub2", 0},
      {1252, {"/caf\xe9/\x80.txt", 3, "MODIFIED", ""}, "/caf\xc3\xa9/\xe2\x82\xac.txt", false, "", 3},
      {1252, {"/old", 0, "RENAMED", "na\xefve \"q\" $u0041"}, "/old", false, "na\xc3\xafve \"q\" $u0041", 0},
      {1252, {"/\x81\x8d.bin", 7, "MODIFIED", ""}, "/\xc2\x81\xc2\x8d.bin", false, "", 7},  // undefined bytes
      {1251, {"/\xce\xf2\xf7\xb8\xf2.doc", 5, "MODIFIED", ""}, "/\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82.doc",
       false, "", 5},
      {932, {"/\x95\x5c.txt", 9, "MODIFIED", ""}, "/\xe8\xa1\xa8.txt", false, "", 9},  // trail byte 0x5C
      {932, {"/\x93\xfa\x96\x7b/", 0, "RENAMED", "\x95\x5c"}, "/\xe6\x97\xa5\xe6\x9c\xac", true, "\xe8\xa1\xa8", 0},
  };
  for (const auto& c : cases) {
    auto page = makeCodePage(c.codePage);
    ASSERT_NE(page, nullptr) << c.codePage;
    std::string json = encodeChangeReport("2024-03-07", "10:11:12", c.record, *page);
    std::string refusal;
    auto got = parseChangeReport(json, *page, &refusal);
    ASSERT_TRUE(got) << json;
    EXPECT_EQ(refusal, "") << json;
    EXPECT_EQ(got->changetype, c.record.changetype) << json;
    EXPECT_EQ(got->path, c.path) << json;
    EXPECT_EQ(got->folder, c.folder) << json;
    EXPECT_EQ(got->newname, c.newname) << json;
    EXPECT_EQ(got->size, c.size) << json;
  }
}

TEST(ChangeReportRoundTrip, TheEmptyReportIsTheEmptyChange) {
  std::string json = encodeChangeReport("2024-03-07", "", ChangeRecord{}, windows1252());
  EXPECT_EQ(json, R"({"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07","time":"",)"
                  R"("mdate":"","mtime":"","size":"0","changetype":""}]})");
  auto got = parseChangeReport(json, windows1252());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->changetype, "");
  EXPECT_EQ(got->path, "");
}

// The exact wire text of a report with a non-ASCII byte, a quote and the text "$u".
TEST(ChangeReportRoundTrip, WireTextIsByteExact) {
  ChangeRecord record{"/a\"$u\xe9", 2, "MODIFIED", ""};
  EXPECT_EQ(encodeChangeReport("d", "t", record, windows1252()),
            R"({"date":"d","time":"t","changes":[{"filepath":"/a\u0022\u0024u\u00e9","date":"d","time":"t",)"
            R"("mdate":"","mtime":"","size":"2","changetype":"MODIFIED"}]})");
}

TEST(ChangeReportRoundTrip, ReportsBeyondTheLimitsAreRefusedWithTheReason) {
  ChangeRecord deep{"", 1, "MODIFIED", ""};
  for (int i = 0; i < 300; ++i) deep.filepath += "/a";
  std::string refusal;
  auto got = parseChangeReport(encodeChangeReport("d", "", deep, windows1252()), windows1252(), &refusal);
  ASSERT_TRUE(got);
  EXPECT_EQ(refusal, "path too deep (300 levels, at most 256)");
  EXPECT_FALSE(parseChangeReport(encodeChangeReport("d", "", deep, windows1252()), windows1252()));
  // 128 times 0xE9 is 128 bytes locally and 256 in UTF-8.
  ChangeRecord rename{"/x.txt", 0, "RENAMED", std::string(128, '\xe9')};
  got = parseChangeReport(encodeChangeReport("d", "", rename, windows1252()), windows1252(), &refusal);
  ASSERT_TRUE(got);
  EXPECT_EQ(refusal, "name too long (256 bytes, at most 255)");
}

const std::string kSync = "C:\\Users\\user\\Docs";

struct ListingCase {
  unsigned codePage;
  ListedEntry entry;
  std::string path;  // UTF-8, as the server reads it
  bool isDir;
};

TEST(ListingRoundTrip, TheServerReadsWhatTheClientLists) {
  const ListingCase cases[] = {
      {1252, {kSync + "\\a.txt", 12, "2024-03-07", "14.05.09"}, "/a.txt", false},
      {1252, {kSync + "\\docs", 0, "", ""}, "/docs", true},
      {1252, {kSync + "\\/docs\\report.pdf", 1, "2024-03-07", "14.05.09"}, "/docs/report.pdf", false},
      {1252, {kSync + "\\empty.txt", 0, "2024-03-07", "14.05.09"}, "/empty.txt", false},  // an empty file has a date
      {1252, {kSync + "\\caf\xe9\\\x80 \"x\".txt", 3, "2024-03-07", "00.00.00"},
       "/caf\xc3\xa9/\xe2\x82\xac \"x\".txt", false},
      {1251, {kSync + "\\\xce.txt", 1, "2024-03-07", "14.05.09"}, "/\xd0\x9e.txt", false},
      {932, {kSync + "\\\x95\x5c\\\x93\xfa.txt", 4, "2024-03-07", "14.05.09"}, "/\xe8\xa1\xa8/\xe6\x97\xa5.txt", false},
  };
  for (const auto& c : cases) {
    auto page = makeCodePage(c.codePage);
    ASSERT_NE(page, nullptr) << c.codePage;
    std::string text = listingText(listingEntryText(c.entry, *page), kSync, *page);
    auto got = parseListing(text, *page);
    ASSERT_TRUE(got) << text;
    ASSERT_EQ(got->entries.size(), 1u) << text;
    EXPECT_EQ(got->skipped, 0) << text;
    const ListingEntry& e = got->entries[0];
    EXPECT_EQ(e.path, c.path) << text;
    EXPECT_EQ(e.isDir, c.isDir) << text;
    EXPECT_EQ(e.size, static_cast<std::int64_t>(c.entry.size)) << text;
    EXPECT_EQ(e.mtime, localStamp(c.entry.mdate, c.entry.mtime)) << text;
  }
}

TEST(ListingRoundTrip, WholeListingsAndTheirWireText) {
  std::string entries = listingEntryText({kSync + "\\a", 0, "", ""}, windows1252()) + "," +
                        listingEntryText({kSync + "\\a\\b\xe9.txt", 5, "2024-01-02", "03.04.05"}, windows1252());
  std::string text = listingText(entries, kSync, windows1252());
  EXPECT_EQ(text, R"({"content":[{"filepath":"/a","size":"0","mdate":"","mtime":"",)"
                  R"("filepath":"/a/b\u00e9.txt","size":"5","mdate":"2024-01-02","mtime":"03.04.05"}]})");
  auto got = parseListing(text, windows1252());
  ASSERT_TRUE(got);
  ASSERT_EQ(got->entries.size(), 2u);
  EXPECT_TRUE(got->entries[0].isDir);
  EXPECT_EQ(got->entries[1].path, "/a/b\xc3\xa9.txt");
  auto empty = parseListing(listingText("", kSync, windows1252()), windows1252());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->entries.empty());
}

TEST(ListingRoundTrip, EntriesBeyondTheLimitsAreLeftOutAndTheFirstIsNamed) {
  std::string deep = kSync;
  for (int i = 0; i < 300; ++i) deep += "\\a";
  std::string entries = listingEntryText({deep, 1, "", ""}, windows1252()) + "," +
                        listingEntryText({kSync + "\\ok", 1, "2024-01-01", "00.00.00"}, windows1252()) + "," +
                        listingEntryText({kSync + "\\" + std::string(128, '\xe9'), 1, "", ""}, windows1252());
  auto got = parseListing(listingText(entries, kSync, windows1252()), windows1252());
  ASSERT_TRUE(got);
  ASSERT_EQ(got->entries.size(), 1u);
  EXPECT_EQ(got->entries[0].path, "/ok");
  EXPECT_EQ(got->skipped, 2);
  EXPECT_EQ(got->firstProblem, "path too deep (300 levels, at most 256)");
  EXPECT_EQ(got->firstProblemPath.substr(0, 6), "/a/a/a");
}

}  // namespace
}  // namespace kq
