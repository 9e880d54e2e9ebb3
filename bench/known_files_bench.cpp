// Start-up with many known files: the client compares the folder with the list
// of files it last knew and hands every difference to the change tracker. Half
// of the known files are gone (queued deletions), the other half changed and as
// many are new (queued modifications). Every queue lookup must stay constant
// time, so the time per file must not grow with the number of files.
#include <benchmark/benchmark.h>

#include <string>

#include "log/log.h"
#include "platform/file_system.h"
#include "support/recorders.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"
#include "tracking/known_files.h"

namespace kq {
namespace {

class NullLog : public Log {
 public:
  void writeLog(const std::string&, bool) override {}
};

// ListedFolder is a sync folder of count files named n0.txt..., walked from
// memory; the saved list names as many files, half of them gone (k0.txt...).
class ListedFolder : public FileSystem {
 public:
  ListedFolder(std::string root, std::size_t count) : root_(std::move(root)), count_(count) {
    list_ = KnownFiles::listText({});
    for (std::size_t i = 0; i < count; ++i) {
      std::string name = (i % 2 == 0 ? "k" : "n") + std::to_string(i) + ".txt";
      list_ += "1\t1\t" + name + "\n";  // the "n" files are known with another size
    }
  }
  FileStatus status(const std::string&) override { return {}; }
  bool createFolders(const std::string&) override { return true; }
  bool remove(const std::string&) override { return false; }
  bool removeAll(const std::string&) override { return false; }
  bool rename(const std::string&, const std::string&) override { return false; }
  bool setAttributes(const std::string&, bool, bool) override { return false; }
  std::pair<bool, bool> attributes(const std::string&) override { return {false, false}; }
  std::unique_ptr<InputStream> openRead(const std::string&) override { return nullptr; }
  std::unique_ptr<OutputStream> openAppend(const std::string&) override { return nullptr; }
  std::unique_ptr<OutputStream> openWrite(const std::string&) override { return nullptr; }
  std::optional<std::string> readText(const std::string&) override { return list_; }
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override {
    for (std::size_t i = 0; i < count_; ++i)
      if (!visit({folder + "\\n" + std::to_string(i) + ".txt", EntryType::File, {}})) return true;
    return true;
  }

 private:
  std::string root_;
  std::size_t count_;
  std::string list_;
};

// FileStatus of every walked file: 2 bytes, so every known "n" file changed.
class SizedFolder : public ListedFolder {
 public:
  using ListedFolder::ListedFolder;
  FileStatus status(const std::string& path) override {
    FileStatus st;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".txt") == 0 && path.find("\\n") != std::string::npos) {
      st.type = EntryType::File;
      st.size = 2;
    }
    return st;
  }
};

void BM_StartupWithKnownFiles(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string root = "C:\\Sync";
  for (auto _ : state) {
    state.PauseTiming();
    SizedFolder fs(root, count);
    NullLog log;
    test::RecordingStatusView status;
    ExceptionFilter filter(fs);
    ChangeTracker tracker(log, status, filter, fs);
    KnownFiles known(fs, log, filter, tracker);
    state.ResumeTiming();
    benchmark::DoNotOptimize(known.findChanges(root));
    state.counters["deletions"] = static_cast<double>(tracker.deleteQueue.size());
    state.counters["modifications"] = static_cast<double>(tracker.modificationQueue.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StartupWithKnownFiles)->Arg(11000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// SavedFolder is a SizedFolder whose list of known files can be written (kept
// in memory) and whose files all exist: a folder being saved while the client runs.
class SavedFolder : public SizedFolder {
 public:
  SavedFolder(const std::string& root, std::size_t count) : SizedFolder(root, count), root_(root) {}
  FileStatus status(const std::string& path) override {
    FileStatus st = SizedFolder::status(path);
    if (path == root_ || path == root_ + "\\_config") st.type = EntryType::Folder;
    if (path == KnownFiles::listPath(root_) && written_ > 0) st.type = EntryType::File;
    return st;
  }
  bool writeText(const std::string&, const std::string& content) override {
    written_ = content.size();
    return true;
  }
  bool rename(const std::string&, const std::string&) override { return true; }
  std::size_t written() const { return written_; }

 private:
  std::string root_;
  std::size_t written_ = 0;
};

// A save of the known files while the client runs, with 10 files touched since
// the last one: range(1) 0 looks at the touched paths only (as the client does),
// 1 walks the whole folder (as every save did before, every 30 s); 2 is a save
// with nothing touched (an idle client).
void BM_KnownFilesSave(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const bool walkAll = state.range(1) == 1, idle = state.range(1) == 2;
  const std::string root = "C:\\Sync";
  SavedFolder fs(root, count);
  NullLog log;
  test::RecordingStatusView status;
  ExceptionFilter filter(fs);
  ChangeTracker tracker(log, status, filter, fs);
  KnownFiles known(fs, log, filter, tracker);
  if (!known.remember(root)) state.SkipWithError("the first save failed");
  for (auto _ : state) {
    for (std::size_t i = 0; i < (idle ? 0 : 10); ++i) tracker.touched.add(root + "\\n" + std::to_string(i * 2 + 1) + ".txt");
    if (walkAll) tracker.touched.markAll();
    if (!known.remember(root)) state.SkipWithError("a save failed");
  }
  state.counters["walks"] = static_cast<double>(known.walks());
  state.counters["list_bytes"] = static_cast<double>(fs.written());
}
BENCHMARK(BM_KnownFilesSave)->ArgsProduct({{50000, 500000}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kq
