// The client's own folders (_config, _log, _trash) are never changed on a
// server's order: each order is refused with its log line and answered as the
// wire requires, while the log fetch and listings go on as before.
#include "transfer/own_folders.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/tree_move.h"
#include "support/engine_harness.h"
#include "support/scoped_code_page.h"

namespace kq {
namespace {

TEST(OwnFolderOf, NamesTheOwnFolderAtAnyCaseWindowsTakesForTheSame) {
  const struct {
    std::string relative;
    std::string folder;
  } cases[] = {
      {"\\_config\\Filesync.ini", "_config"},
      {"\\_config", "_config"},
      {"_log\\kqfilesync.lock", "_log"},
      {"\\_trash\\docs\\a.txt", "_trash"},
      {"\\_CONFIG\\exceptions.dat", "_config"},
      {"\\_Log", "_log"},
      {"\\_tRaSh\\x", "_trash"},
      {"\\\\_log\\x", "_log"},  // a run of separators counts as one
      {"\\_configs\\x", ""},
      {"\\_config.txt", ""},
      {"\\docs\\_config\\x", ""},
      {"\\config\\x", ""},
      {"\\_lo", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ownFolderOf(c.relative), c.folder) << c.relative;
}

TEST(OwnFolderOf, DotlessIAndLongSAreTheSameLettersToWindows) {
  test::ScopedCodePage turkish(1254);  // 0xFD is U+0131, dotless i
  EXPECT_EQ(ownFolderOf("\\_conf\xFDg\\Filesync.ini"), "_config");
  EXPECT_EQ(ownFolderOf("\\_CONF\xFDG"), "_config");
  EXPECT_EQ(ownFolderOf("\\_conf\xFD"), "");
  EXPECT_EQ(ownFolderOf("_tra\xC5\xBFh", windows1252()), "");  // two cp1252 characters, no long s
}

TEST(LocalPathToChange, RefusesOwnFoldersAndKeepsEveryOtherRefusal) {
  EXPECT_EQ(localPathToChange("C:\\Sync", R"(\/_config\/Filesync.ini)").refusal, "the client's own folder _config");
  EXPECT_EQ(localPathToChange("C:\\Sync", R"(\/_LOG\/)").refusal, "the client's own folder _log");
  EXPECT_EQ(localPathToChange("C:\\Sync", R"(\/_tr\u0061sh)").refusal, "the client's own folder _trash");
  EXPECT_EQ(localPathToChange("C:\\Sync", R"(\/..\/_config\/x)").refusal, "a parent folder segment");
  LocalPath fine = localPathToChange("C:\\Sync", R"(\/docs\/_config\/x.txt)");
  EXPECT_TRUE(fine.ok()) << fine.refusal;
  EXPECT_EQ(fine.path, "C:\\Sync\\docs\\_config\\x.txt");
  // Reading and listing still reach them.
  EXPECT_TRUE(localPathFromServer("C:\\Sync", R"(\/_log\/Filesync.log)").ok());
}

const RequestId kId{'\x0a', '\x0b', '\x0c', '\x0d'};

std::string request(const char* type, const std::string& body) {
  return encodeHeader({type, kId, body.size()}) + body;
}
std::string answer(const char* type, std::uint64_t size = 0) { return encodeHeader({type, kId, size}); }
std::string fileData(const std::string& content) { return encodeHeader({"RQFDA", kId, content.size()}) + content; }

class OwnFoldersScenario : public ::testing::Test {
 protected:
  OwnFoldersScenario() {
    t.processes.delegate = &portable;
    for (const auto& [relative, content] : kOwnFiles) EXPECT_TRUE(write(relative, content)) << relative;
    EXPECT_TRUE(write("docs\\a.txt", "a"));
    t.connect();
    t.server.sends.clear();
  }
  bool write(const std::string& relative, const std::string& content) {
    std::string parent = t.path(relative.substr(0, relative.find_last_of('\\')));
    return t.fs.createFolders(parent) && t.fs.writeText(t.path(relative), content);
  }
  // ownTree is every item below the three own folders with its content.
  std::map<std::string, std::string> ownTree() {
    std::map<std::string, std::string> tree;
    for (const char* folder : {"_config", "_log", "_trash"}) {
      bool walked = t.fs.walk(t.path(folder), [&](const WalkEntry& e) {
        tree[e.path] = e.type == EntryType::File ? t.fs.readText(e.path).value_or("<unreadable>") : "<folder>";
        return true;
      });
      EXPECT_TRUE(walked) << folder;
    }
    return tree;
  }
  bool refusedLine(const std::string& value, const std::string& folder) {
    return t.log.contains("Refused server path " + value + ": the client's own folder " + folder);
  }

  const std::map<std::string, std::string> kOwnFiles = {
      {"_config\\Filesync.ini", "[Basic]\r\nfiledeletion=0\r\n"},
      {"_config\\exceptions.dat", "~\r\n"},
      {"_log\\Filesync.log", "2024/03/07 14:05:09 : started\r\n"},
      {"_log\\kqfilesync.lock", "4242\n"},
      {"_trash\\docs\\old.txt", "old"},
  };
  test::NativeEngine t;
  PortableTreeMove portable{t.fs};
};

TEST_F(OwnFoldersScenario, EveryChangingOrderIsRefusedWithItsAnswer) {
  const auto before = ownTree();
  const struct {
    std::string bytes;     // what the server sends in one read
    std::vector<std::string> answers;
    std::string value;     // the refused path value
    std::string folder;
  } orders[] = {
      {request("RQPUT", R"({"filepath":"\/_config\/Filesync.ini"})"), {answer("ANPUT")},
       R"(\/_config\/Filesync.ini)", "_config"},
      {fileData("[Basic]\r\nfiledeletion=2\r\n"), {answer("ANFDA")}, "", ""},
      {request("RQPUT", R"({"filepath":"\/_Log\/kqfilesync.lock"})"), {answer("ANPUT")},
       R"(\/_Log\/kqfilesync.lock)", "_log"},
      {fileData("1"), {answer("ANFDA")}, "", ""},
      {request("RQPUT", R"({"filepath":"\/_trash\/new\/"})"), {answer("ANPUT")}, R"(\/_trash\/new\/)", "_trash"},
      {request("RQDEL", R"({"filepath":"\/_config\/exceptions.dat"})"), {answer("ANDEL")},
       R"(\/_config\/exceptions.dat)", "_config"},
      {request("RQDEL", R"({"filepath":"\/_TRASH\/"})"), {answer("ANDEL")}, R"(\/_TRASH\/)", "_trash"},
      {request("RQMOV", R"({"sourcefilepath":"\/_log\/","destinationfilepath":"\/moved\/"})"), {answer("FLMOV")},
       R"(\/_log\/)", "_log"},
      {request("RQMOV", R"({"sourcefilepath":"\/docs\/","destinationfilepath":"\/_config\/docs\/"})"),
       {answer("FLMOV")}, R"(\/_config\/docs\/)", "_config"},
  };
  for (const auto& order : orders) {
    t.server.sends.clear();
    t.read(order.bytes);
    EXPECT_EQ(t.server.sends, order.answers) << order.bytes;
    if (!order.value.empty()) {
      EXPECT_TRUE(refusedLine(order.value, order.folder)) << order.value;
    }
  }
  EXPECT_FALSE(t.engine.protocol().fileDataMode);
  EXPECT_EQ(ownTree(), before);
  EXPECT_EQ(t.fs.readText(t.path("docs\\a.txt")).value_or(""), "a");
  EXPECT_FALSE(t.fs.exists(t.path("moved")));
  EXPECT_TRUE(t.processes.moves.empty());
}

TEST_F(OwnFoldersScenario, TheLogIsStillFetchedAndTheFoldersStillListed) {
  const std::string log = kOwnFiles.at("_log\\Filesync.log");
  t.read(request("RQFIL", R"({"filepath":"\/_log\/Filesync.log"})"));
  EXPECT_EQ(t.server.sends, (std::vector<std::string>{answer("ANFIL", log.size()), log}));
  t.server.sends.clear();
  t.read(request("RQLST", R"({"filepath":"\/_config\/"})"));
  ASSERT_EQ(t.server.sends.size(), 1u);
  EXPECT_NE(t.server.sends[0].find(R"("filepath":"//_config//Filesync.ini")"), std::string::npos) << t.server.sends[0];
}

}  // namespace
}  // namespace kq
