#pragma once
// HandlerFixture gives the server-request handlers of file transfer and file
// operations their ports over a real temporary sync folder: recording views,
// log and server link, a fake clock (UTC local time) that records pauses, and
// the real FileSystem and IniFile of NativeFs, the file system behind a
// FaultyFileSystem. Files named with "~" or ".tmp" are excluded.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/handler_ports.h"
#include "platform/codepage.h"
#include "platform/tree_move.h"
#include "support/fake_clock.h"
#include "support/faulty_file_system.h"
#include "support/native_fs.h"
#include "support/recorders.h"
#include "tracking/exception_filter.h"

namespace kq::test {

class HandlerFixture : public ::testing::Test {
 protected:
  HandlerFixture() {
    EXPECT_TRUE(disk.fs().createFolders(sync));
    processes.delegate = &portableMove;
  }
  // robocopyMovesNothing makes the folder move fail untouched, as robocopy does under Wine.
  void robocopyMovesNothing() {
    processes.delegate = nullptr;
    processes.result = MoveResult{false, 16, "robocopy exit code 16"};
  }

  // at is a path below the sync folder ("docs\\a.txt").
  std::string at(const std::string& relative) const { return sync + "\\" + relative; }
  bool write(const std::string& relative, const std::string& content) {
    std::string path = at(relative);
    auto pos = path.find_last_of('\\');
    return disk.fs().createFolders(path.substr(0, pos)) && disk.fs().writeText(path, content);
  }
  std::string read(const std::string& relative) { return disk.fs().readText(at(relative)).value_or("<missing>"); }
  bool exists(const std::string& relative) { return disk.fs().exists(at(relative)); }
  // setModified sets the modification time of a file below the sync folder on the disk.
  void setModified(const std::string& relative, std::int64_t epochSeconds) {
    std::filesystem::path native = disk.nativeRoot() / "Sync";
    std::string utf8 = cp1252ToUtf8(relative);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= utf8.size(); ++i) {
      if (i < utf8.size() && utf8[i] != '\\') continue;
      native /= std::u8string(utf8.begin() + start, utf8.begin() + i);
      start = i + 1;
    }
    auto sys = std::chrono::system_clock::time_point(std::chrono::seconds(epochSeconds));
    std::filesystem::last_write_time(native, std::chrono::file_clock::from_sys(sys));
  }
  // logSince lists the texts logged from line index first on.
  std::vector<std::string> logSince(std::size_t first) const {
    auto all = log.texts();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
  }

  NativeFs disk;
  std::string sync = disk.path("Sync");
  RecordingLog log;
  RecordingServerLink server;
  RecordingStatusView status;
  RecordingFolderView folders;
  FakeClock clock;
  // faulty is the handlers' file system: the real one, with failures on request.
  FaultyFileSystem faulty{disk.fs()};
  PortableTreeMove portableMove{faulty};
  RecordingProcessRunner processes;  // records each move, portableMove does it
  ProtocolState protocol;
  ExceptionFilter filter{faulty};
  ChangeTracker tracker{log, status, filter, faulty};
  HandlerPorts ports{server, faulty, log, status, folders, disk.ini(), clock, processes,
                     protocol, tracker,
                     [this] { return sync; },
                     [this] { return sync + "\\_config\\Filesync.ini"; },
                     [](const std::string& p) {
                       return p.find('~') != std::string::npos || p.find(".tmp") != std::string::npos;
                     }};
};

}  // namespace kq::test
