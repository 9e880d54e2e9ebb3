// RQMOV never moves a link and never moves or creates anything through one:
// the order is answered FLMOV with the reason in the log, and what the link
// names stays as it was.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>

#include "fileops/server_move.h"
#include "platform/tree_move.h"
#include "support/handler_fixture.h"

namespace kq {
namespace {

namespace fsys = std::filesystem;

// The sync folder holds "projects", a link to the folder "outside" beside it.
class ServerMoveLinksTest : public test::HandlerFixture {
 protected:
  ServerMoveLinksTest() {
    EXPECT_TRUE(disk.fs().createFolders(disk.path("outside\\sub")));
    EXPECT_TRUE(disk.fs().writeText(disk.path("outside\\sub\\a.txt"), "a"));
    fsys::create_directory_symlink(disk.nativeRoot() / "outside", disk.nativeRoot() / "Sync" / "projects");
    EXPECT_TRUE(write("docs\\b.txt", "b"));
  }
  std::string move(const std::string& from, const std::string& to) {
    PacketContext packet{kRQMOV, ""};
    handler.onMember("\"sourcefilepath\"", from, packet);
    handler.onMember("\"destinationfilepath\"", to, packet);
    handler.endOfReadEvent();
    EXPECT_FALSE(handler.answerPending());
    return packet.answerType;
  }
  bool untouched() {
    std::size_t n = 0;
    for (auto it = fsys::recursive_directory_iterator(disk.nativeRoot() / "outside");
         it != fsys::recursive_directory_iterator(); ++it)
      ++n;
    return n == 2 && fsys::is_symlink(disk.nativeRoot() / "Sync" / "projects") && read("docs\\b.txt") == "b";
  }
  ServerMove handler{ports};
};

TEST_F(ServerMoveLinksTest, ALinkOrAPathThroughOneIsNeverMoved) {
  const struct {
    std::string from, to, refused;
  } cases[] = {
      {R"(\/projects\/)", R"(\/moved\/)", R"(\/projects\/)"},
      {R"(\/projects\/sub\/)", R"(\/moved\/)", R"(\/projects\/sub\/)"},
      {R"(\/docs\/)", R"(\/projects\/docs\/)", R"(\/projects\/docs\/)"},
      {R"(\/gone\/)", R"(\/projects\/new\/)", R"(\/projects\/new\/)"},  // nothing created through it either
  };
  for (const auto& c : cases) {
    log.lines.clear();
    EXPECT_EQ(move(c.from, c.to), "FLMOV") << c.from << " " << c.to;
    EXPECT_TRUE(log.contains("Refused server path " + c.refused + ": a link; not synchronised")) << c.refused;
    EXPECT_TRUE(log.contains("Error: Can not move directory! Sending FLMOV to the Server...")) << c.refused;
    EXPECT_TRUE(untouched()) << c.from << " " << c.to;
  }
  EXPECT_TRUE(processes.moves.empty());
  EXPECT_FALSE(exists("moved"));
  EXPECT_TRUE(tracker.blockedPaths.empty());
}

}  // namespace
}  // namespace kq
#endif
