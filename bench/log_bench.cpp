// The client log's cost per line on the real disk: a shown line (kept file,
// one write), a line that is not shown, and the protocol trace with the file
// trace off. Besides the time, each benchmark counts the calls the log makes
// through the FileSystem port per line ("fs_calls_per_line"): every such call
// is at least one system call (a status, an open, a read of "time.inf").
//
// Before the log kept its file open, a shown line cost 6 port calls (the sync
// folder's and the stamp's status, the log's status, a read of "time.inf", an
// open-append-close of the log, the log's size) and a line not shown 4; see
// bench/log.md for the figures.
#include <benchmark/benchmark.h>

#include <string>

#include "config/config_store.h"
#include "log/log.h"
#include "platform/posix/clock_posix.h"
#include "support/native_fs.h"

namespace kq {
namespace {

// CountingFs passes every call on to the real file system and counts it.
class CountingFs : public FileSystem {
 public:
  explicit CountingFs(FileSystem& real) : real_(real) {}
  FileStatus status(const std::string& p) override { return ++calls, real_.status(p); }
  bool createFolders(const std::string& p) override { return ++calls, real_.createFolders(p); }
  bool remove(const std::string& p) override { return ++calls, real_.remove(p); }
  bool removeAll(const std::string& p) override { return ++calls, real_.removeAll(p); }
  bool rename(const std::string& a, const std::string& b) override { return ++calls, real_.rename(a, b); }
  bool setAttributes(const std::string& p, bool h, bool s) override { return ++calls, real_.setAttributes(p, h, s); }
  std::pair<bool, bool> attributes(const std::string& p) override { return ++calls, real_.attributes(p); }
  std::unique_ptr<InputStream> openRead(const std::string& p) override { return ++calls, real_.openRead(p); }
  std::unique_ptr<OutputStream> openAppend(const std::string& p) override { return ++calls, real_.openAppend(p); }
  std::unique_ptr<OutputStream> openWrite(const std::string& p) override { return ++calls, real_.openWrite(p); }
  std::optional<std::string> readText(const std::string& p) override { return ++calls, real_.readText(p); }
  bool writeText(const std::string& p, const std::string& c) override { return ++calls, real_.writeText(p, c); }
  bool appendText(const std::string& p, const std::string& c) override { return ++calls, real_.appendText(p, c); }
  bool walk(const std::string& f, const std::function<bool(const WalkEntry&)>& v) override {
    return ++calls, real_.walk(f, v);
  }
  long calls = 0;

 private:
  FileSystem& real_;
};

enum class Kind { Shown, Quiet, Trace };

void logLines(benchmark::State& state, Kind kind) {
  test::NativeFs disk;
  std::string program = disk.path("Program"), sync = disk.path("Sync");
  if (!disk.fs().createFolders(program) || !disk.fs().createFolders(sync)) {
    state.SkipWithError("no folder");
    return;
  }
  std::string escaped;
  for (char c : sync) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  (void)disk.fs().writeText(program + "\\filesync.cfg",
                            "{\"KQFilsyncConfig\":[{\"Host\":\"h\",\"port\":\"1\",\"protocol\":\"00003\","
                            "\"contract\":\"1\",\"API-key\":\"k\",\"KQDir\":\"" + escaped + "\",\"Reconnect\":\"1\"}]}");
  CountingFs fs(disk.fs());
  SystemClock clock;
  ConfigStore config(fs, makeClientConfig(program + "\\client.exe"));
  config.reload();
  LogView view;
  Logger log(fs, clock, config, view);
  log.writeLog("started", true);  // the file exists from here on
  const long before = fs.calls;
  const std::string text = "Received: 65536 of 1048576";
  for (auto _ : state) {
    if (view.lines().size() > LogView::kMaxLines) view.prepare();
    switch (kind) {
      case Kind::Shown: log.writeLog(text, true); break;
      case Kind::Quiet: log.writeLog(text, false); break;
      case Kind::Trace: log.writeTrace(text); break;
    }
  }
  state.counters["fs_calls_per_line"] =
      benchmark::Counter(static_cast<double>(fs.calls - before) / static_cast<double>(state.iterations()));
  state.SetItemsProcessed(state.iterations());
}

void BM_LogShownLine(benchmark::State& state) { logLines(state, Kind::Shown); }
void BM_LogQuietLine(benchmark::State& state) { logLines(state, Kind::Quiet); }
void BM_LogTraceLineFileTraceOff(benchmark::State& state) { logLines(state, Kind::Trace); }
BENCHMARK(BM_LogShownLine);
BENCHMARK(BM_LogQuietLine);
BENCHMARK(BM_LogTraceLineFileTraceOff);

}  // namespace
}  // namespace kq
