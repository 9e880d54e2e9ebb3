// The client's own folders with the real server session: a whole sync with
// files in _config, _log and _trash leaves them as they were, no order of the
// server is refused for them, and the log is still fetched byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "seam_harness.h"

namespace kq::seam {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(OwnFoldersSeam, SyncingAndTheLogFetchLeaveTheOwnFoldersAlone) {
  Seam s(Delivery::whole());
  const std::string log = "2024/03/07 14:05:09 : Connected to Korvalinq Server!\r\n";
  const std::map<std::string, std::string> own = {
      {"_config/Filesync.ini", "[Basic]\r\nfiledeletion=0\r\nInitialSync=1\r\n"},
      {"_config/exceptions.dat", "~\r\n"},
      {"_trash/docs/old.txt", "trashed earlier"},
  };
  for (const auto& [relative, content] : own) s.diskWrite(relative, content);
  s.diskWrite("_log/Filesync.log", log);
  s.diskWrite("mine.txt", "the user's");
  s.storeWrite("docs/a.txt", "the store's");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.storeRemove("docs/a.txt");
  s.storeWrite("docs/b.txt", "b");
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  ASSERT_TRUE(s.fetchLog()) << s.server.lastError();
  EXPECT_EQ(readFile(s.server.clientLogPath()), log);
  for (const auto& [relative, content] : own) EXPECT_EQ(readFile(s.syncFolder() / relative), content) << relative;
  EXPECT_EQ(readFile(s.syncFolder() / "_trash/docs/a.txt"), "the store's");  // the deletion went to the trash
  EXPECT_FALSE(s.clientLogged("the client's own folder"));
  EXPECT_TRUE(fs::exists(s.server.storeFolder() / "mine.txt"));
  EXPECT_FALSE(fs::exists(s.server.storeFolder() / "_config"));
  s.expectTreesAgree();
}

}  // namespace
}  // namespace kq::seam
