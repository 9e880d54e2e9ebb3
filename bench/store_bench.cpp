// kqsyncd's store: creating the folders of a deep path (work per level should
// stay flat as the depth grows), a scan of an unchanged store (no hashing),
// the index commits of 1,000 fetched files one by one and batched, and the
// cycle of an idle store with and without its watch.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store.h"

namespace fs = std::filesystem;

namespace {

fs::path scratch(const std::string& name) {
  auto dir = fs::temp_directory_path() / ("kq-bench-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "store");
  return dir;
}

void BM_StoreDeepPath(benchmark::State& state) {
  auto depth = static_cast<int>(state.range(0));
  std::string path;
  for (int i = 0; i < depth; ++i) path += "/level" + std::to_string(i);
  path += "/file.txt";
  auto dir = scratch("deep");
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir / "store");
    kqs::Store store((dir / "store").string(), (dir / "index.sqlite").string(), [](const std::string&) {},
                     (dir / "versions").string());
    auto file = store.beginIncoming();
    if (!file->write("x")) state.SkipWithError("cannot write");
    state.ResumeTiming();
    store.accept(path, *file, kqs::FetchMode::ClientChanged, 1700000000, 1700000000);
  }
  state.SetComplexityN(depth);
  fs::remove_all(dir);
}
BENCHMARK(BM_StoreDeepPath)->RangeMultiplier(2)->Range(16, 256)->Complexity()->Unit(benchmark::kMillisecond);

void BM_StoreScanUnchanged(benchmark::State& state) {
  auto files = static_cast<int>(state.range(0));
  auto dir = scratch("scan");
  for (int i = 0; i < files; ++i) {
    auto p = dir / "store" / ("folder" + std::to_string(i % 50)) / ("file" + std::to_string(i) + ".txt");
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "content " << i;
  }
  kqs::Store store((dir / "store").string(), (dir / "index.sqlite").string(), [](const std::string&) {},
                   (dir / "versions").string());
  store.scan(1700000000);
  store.scan(1700000001);  // the files written within the first scan's second are hashed once more
  for (auto _ : state) benchmark::DoNotOptimize(store.scan(1700000002));
  state.SetComplexityN(files);
  state.SetItemsProcessed(state.iterations() * files);
  fs::remove_all(dir);
}
BENCHMARK(BM_StoreScanUnchanged)->Arg(1000)->Arg(10000)->Complexity()->Unit(benchmark::kMillisecond);

// 1,000 fetched files as a cycle takes them in: accept and the known copy.
// Argument 0: each step commits on its own; 1: the steps are batched and
// committed when the batch is due (as kqsyncd serves).
void BM_StoreFetchCommits(benchmark::State& state) {
  bool batched = state.range(0) != 0;
  constexpr int kFiles = 1000;
  auto dir = scratch(batched ? "commits-batched" : "commits-single");
  std::int64_t commits = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir / "store");
    auto store = std::make_unique<kqs::Store>((dir / "store").string(), (dir / "index.sqlite").string(),
                                              [](const std::string&) {}, (dir / "versions").string());
    if (batched) store->batchWrites({});
    auto before = store->index().commits();
    state.ResumeTiming();
    for (int i = 0; i < kFiles; ++i) {
      auto file = store->beginIncoming();
      if (!file->write("content of file " + std::to_string(i))) state.SkipWithError("cannot write");
      std::string path = "/folder" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".txt";
      auto result = store->accept(path, *file, kqs::FetchMode::ClientChanged, 1700000000, 1700000000);
      store->recordKnown(path, file->size(), 1700000000, result.entry.hash);
      store->commitIfDue(i);  // a step a millisecond
    }
    store->commitWrites();
    commits += store->index().commits() - before;
  }
  state.counters["commits_per_1000_files"] = static_cast<double>(commits) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * kFiles);
  fs::remove_all(dir);
}
BENCHMARK(BM_StoreFetchCommits)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// The store's part of an idle cycle with 50,000 files: argument 1 with the
// watch (nothing happened: no scan), 0 a full scan as every cycle did before.
void BM_StoreIdleCycle(benchmark::State& state) {
  bool watched = state.range(0) != 0;
  constexpr int kFiles = 50000;
  auto dir = scratch(watched ? "idle-watched" : "idle-scanned");
  for (int i = 0; i < kFiles; ++i) {
    auto p = dir / "store" / ("folder" + std::to_string(i % 500)) / ("file" + std::to_string(i) + ".txt");
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "c" << i;
  }
  kqs::writeStoreMarker((dir / "store").string());
  kqs::Store store((dir / "store").string(), (dir / "index.sqlite").string(), [](const std::string&) {},
                   (dir / "versions").string());
  store.scan(1700000000);
  store.scan(1700000001);
  std::int64_t at = 1700000002;
  store.prepareCycle(at);  // the first cycle scans and arms the watch
  auto scans = store.scansDone();
  for (auto _ : state) {
    if (watched) benchmark::DoNotOptimize(store.prepareCycle(at));
    else benchmark::DoNotOptimize(store.scan(at));
  }
  state.counters["scans"] = static_cast<double>(store.scansDone() - scans);
  fs::remove_all(dir);
}
BENCHMARK(BM_StoreIdleCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
