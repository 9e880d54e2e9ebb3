// The tray's state, one-line tip and balloons, from the engine's status record.
#include <gtest/gtest.h>

#include "engine/failed_items.h"
#include "engine/tray_status.h"

namespace kq {
namespace {

EngineStatus healthy() {
  EngineStatus s;
  s.connected = true;
  s.server = "sync.example.com:21234";
  return s;
}

TEST(TrayStatusTest, StateAndTipFollowTheRecord) {
  const std::string refusal = "The server refused contract 1234 and this API key: run the installer again to correct them";
  const struct {
    const char* name;
    void (*change)(EngineStatus&);
    const char* lastSync;
    TrayView view;
  } cases[] = {
      {"idle after a cycle", [](EngineStatus&) {}, "14:05",
       {TrayState::Synchronised, "Synchronised with sync.example.com:21234, last sync 14:05"}},
      {"idle before any cycle", [](EngineStatus&) {}, "",
       {TrayState::Synchronised, "Synchronised with sync.example.com:21234, no sync yet"}},
      {"queued changes", [](EngineStatus& s) { s.queuedModifications = 2; s.queuedDeletions = 1; }, "",
       {TrayState::Working, "Connected to sync.example.com:21234, 3 files left"}},
      {"receiving", [](EngineStatus& s) { s.receiving = TransferProgress{"big.iso", 1048576, 4194304, 0}; }, "",
       {TrayState::Working, "Receiving big.iso 1.0 MB / 4.0 MB"}},
      {"server down", [](EngineStatus& s) { s.connected = false; }, "14:05",
       {TrayState::Attention, "Not connected to sync.example.com:21234: retrying"}},
      {"refused key", [](EngineStatus& s) {
         s.connected = false;
         s.refusal = "The server refused contract 1234 and this API key: run the installer again to correct them";
       }, "", {TrayState::Attention, refusal}},
      {"no sync folder", [](EngineStatus& s) { s.syncFolderPresent = false; }, "",
       {TrayState::Attention, "Sync folder not found: the client waits until it is back"}},
      {"names left out", [](EngineStatus& s) { s.failedItems = {{"a", "r"}, {"b", "r"}}; }, "",
       {TrayState::Attention, "2 names cannot be synchronised: see Filesync > Not synchronised..."}},
      {"disk full", [](EngineStatus& s) {
         s.diskFull = true;
         s.failedItems = {{"/a.bin", kDiskFullReason}, {"/b.bin", kDiskFullReason}};
       }, "14:05", {TrayState::Attention, "The disk of the sync folder is full: files are not received until there is room"}},
      {"disk full again with room", [](EngineStatus& s) {  // a file arrived since: the rest waits for the server
         s.failedItems = {{"/a.bin", kDiskFullReason}};
       }, "14:05", {TrayState::Synchronised, "Synchronised with sync.example.com:21234, last sync 14:05"}},
  };
  for (const auto& c : cases) {
    EngineStatus s = healthy();
    c.change(s);
    EXPECT_EQ(trayView(s, c.lastSync), c.view) << c.name;
    EXPECT_LT(trayView(s, c.lastSync).tip.size(), 110u) << c.name << ": the tip holds 127 characters with the product name";
    EXPECT_EQ(trayView(s, c.lastSync).tip.find('\n'), std::string::npos) << c.name;
  }
}

TEST(TrayStatusTest, ABalloonOnlyForAProblemThatIsNewToTheUser) {
  Balloons balloons;
  EngineStatus s = healthy();
  EXPECT_EQ(balloons.next(s), std::nullopt);
  s.connected = false;
  EXPECT_EQ(balloons.next(s), std::nullopt) << "a server that is down needs no balloon";
  s.refusal = "refused";
  EXPECT_EQ(balloons.next(s), "refused");
  EXPECT_EQ(balloons.next(s), std::nullopt) << "once";
  s.refusal.clear();
  EXPECT_EQ(balloons.next(s), std::nullopt);
  s.refusal = "refused";
  EXPECT_EQ(balloons.next(s), "refused") << "a refusal after an accepted link is news again";
  s.refusal.clear();
  s.syncFolderPresent = false;
  EXPECT_EQ(balloons.next(s), "Sync folder not found: the client waits until it is back");
  EXPECT_EQ(balloons.next(s), std::nullopt);
  s.syncFolderPresent = true;
  s.failedItems = {{"Жук.txt", "characters outside the code page 1252"}};
  EXPECT_EQ(balloons.next(s), "1 name cannot be synchronised: see Filesync > Not synchronised...");
  EXPECT_EQ(balloons.next(s), std::nullopt) << "the same names";
  s.failedItems.push_back({"b", "r"});
  EXPECT_EQ(balloons.next(s), "2 names cannot be synchronised: see Filesync > Not synchronised...");
}

// A full disk stops every file the server pushes: one balloon, not one per
// file, and another only after a file arrived and the disk filled up again.
TEST(TrayStatusTest, AFullDiskGetsOneBalloonForAllItsFiles) {
  const std::string full = "The disk of the sync folder is full: files are not received until there is room";
  Balloons balloons;
  EngineStatus s = healthy();
  EXPECT_EQ(balloons.next(s), std::nullopt);
  s.diskFull = true;
  for (const char* file : {"/a.bin", "/b.bin", "/c.bin"}) {
    s.failedItems.push_back({file, kDiskFullReason});
    EXPECT_EQ(balloons.next(s), s.failedItems.size() == 1 ? std::optional(full) : std::nullopt) << file;
  }
  EXPECT_EQ(userProblem(s), full);
  s.diskFull = false;  // a file arrived whole
  EXPECT_EQ(balloons.next(s), std::nullopt);
  EXPECT_EQ(userProblem(s), "");
  s.diskFull = true;
  EXPECT_EQ(balloons.next(s), full);
  s.failedItems.push_back({"/\u0416.txt", "characters outside the code page 1252"});
  EXPECT_EQ(balloons.next(s), "1 name cannot be synchronised: see Filesync > Not synchronised...")
      << "the names a full disk stopped are not counted as names";
}

}  // namespace
}  // namespace kq
