// kqsyncd's store: creating the folders of a deep path (work per level should
// stay flat as the depth grows) and a scan of an unchanged store (no hashing).
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

}  // namespace
