#pragma once
// EngineHarness builds a real SyncEngine over recording ports and a given file
// system, with a "filesync.cfg" written to the program folder, so an engine
// scenario can feed exact byte chunks and read back sends, log lines, panels
// and queues. MemoryEngine runs it on a MemoryFileSystem, NativeEngine on a
// temporary folder of the real disk.
//
//   kq::test::MemoryEngine t;
//   t.engine.FilesyncSocketRead(header + body);
//   EXPECT_EQ(t.server.sends, ...);
#include <string>
#include <string_view>

#include "config/config_store.h"
#include "engine/sync_engine.h"
#include "support/fake_clock.h"
#include "support/memory_file_system.h"
#include "support/memory_ini_file.h"
#include "support/native_fs.h"
#include "support/recorders.h"
#include "support/recording_error_reporter.h"

namespace kq::test {

// EngineDoubles are the recording ports of an engine under test.
struct EngineDoubles {
  RecordingServerLink server;
  RecordingWatcherLink watcher;
  FakeClock clock;  // local time 2024-03-07 14:05:09.042 unless a test moves it
  RecordingStatusView status;
  RecordingFolderView folders;
  RecordingDialogs dialogs;
  RecordingProcessRunner processes;
  RecordingLog log;
  RecordingErrorReporter errors;
  RecordingEngineStatus published;
};

// EngineSettings are the configuration fields the harness writes to "filesync.cfg".
struct EngineSettings {
  std::string host = "sync.example.com";
  std::string port = "7777";
  std::string protocol = "1";
  std::string contract = "1234";
  std::string apiKey = "0123456789abcdef0123456789abcdef";
};

class EngineHarness : public EngineDoubles {
 public:
  EngineHarness(FileSystem& fileSystem, IniFile& iniFile, const std::string& syncFolderPath,
                const std::string& programFolder, const EngineSettings& settings = {})
      : fs(fileSystem), ini(iniFile), syncFolder(syncFolderPath),
        config(fileSystem, makeClientConfig(programFolder + "\\KQFilesyncClient.exe")),
        engine(EnginePorts{server, watcher, fs, clock, ini, status, folders, dialogs, processes,
                           config, log, errors, published}) {
    clock.setLocalTime(2024, 3, 7, 14, 5, 9, 42);
    writeConfig(settings);
    // The sync folder exists, as the installation leaves it.
    if (!fs.createFolders(syncFolder)) throw std::runtime_error("no sync folder");
  }

  // writeConfig writes "filesync.cfg" with settings and syncFolder and reads it back.
  void writeConfig(const EngineSettings& s) {
    ConfigFields fields{s.host, s.port, s.protocol, s.contract, s.apiKey, syncFolder};
    if (!fs.createFolders(config.main.configFolder)) throw std::runtime_error("no program folder");
    saveConfig(config.main, fields, fs);
    config.reload();
  }
  // connect runs a whole connection: a Reconnect tick starts the attempt, then
  // the connecting and connect events arrive.
  void connect() {
    engine.ReconnectTimer();
    engine.FilesyncSocketConnecting();
    server.active = true;
    engine.FilesyncSocketConnect();
  }
  void read(std::string_view bytes) { engine.FilesyncSocketRead(bytes); }
  // readBytewise hands bytes over one read per byte.
  void readBytewise(std::string_view bytes) {
    for (char c : bytes) engine.FilesyncSocketRead(std::string_view(&c, 1));
  }
  // path is a path below the sync folder.
  std::string path(const std::string& relative) const { return syncFolder + "\\" + relative; }
  // settingsFile is the sync folder's "Filesync.ini".
  std::string settingsFile() const { return syncFolder + "\\_config\\Filesync.ini"; }

  FileSystem& fs;
  IniFile& ini;
  std::string syncFolder;
  ConfigStore config;
  SyncEngine engine;
};

// MemoryFiles is the in-memory file system of a MemoryEngine.
struct MemoryFiles {
  MemoryFileSystem memoryFs;
  MemoryIniFile memoryIni{&memoryFs};
};

class MemoryEngine : public MemoryFiles, public EngineHarness {
 public:
  explicit MemoryEngine(const std::string& syncFolderPath = "C:\\Users\\user\\Docs",
                        const EngineSettings& settings = {})
      : EngineHarness(memoryFs, memoryIni, syncFolderPath, "C:\\Program Files\\Korvalinq", settings) {}
};

// NativeDisk is the temporary folder of a NativeEngine.
struct NativeDisk {
  NativeFs disk;
};

class NativeEngine : public NativeDisk, public EngineHarness {
 public:
  explicit NativeEngine(const EngineSettings& settings = {})
      : EngineHarness(disk.fs(), disk.ini(), disk.path("Docs"), disk.path("Program"), settings) {}
};

}  // namespace kq::test
