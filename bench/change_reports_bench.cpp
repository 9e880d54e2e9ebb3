// kqsyncd taking a queue of change reports: N new files reported one by one
// by a scripted client, each fetched into the store, in one cycle. The time
// per report must stay flat as N grows (the index is not read again for every
// report): compare the items per second of the rows, or the fitted complexity.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "accounts.h"
#include "scripted_client.h"
#include "sync_server.h"

namespace fs = std::filesystem;

namespace {

void BM_ChangeReportsFetched(benchmark::State& state) {
  auto files = static_cast<int>(state.range(0));
  auto root = fs::temp_directory_path() / ("kq-bench-changes-" + std::to_string(::getpid()));
  for (auto _ : state) {
    fs::remove_all(root);
    fs::create_directories(root / "client");
    kqs::AccountBook book((root / "data").string());
    book.add({"1234", "KEY1234abc", ""});
    fs::create_directories(book.find("1234")->store);
    for (int i = 0; i < files; ++i) {
      auto local = root / "client" / ("folder" + std::to_string(i % 20)) / ("file" + std::to_string(i) + ".txt");
      fs::create_directories(local.parent_path());
      std::ofstream(local) << std::string(4096, static_cast<char>('a' + i % 26));
    }
    kqs::ServerLog log([](const std::string&) {});
    kqs::ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.initQuietMs = 50;
    options.session.cycleMs = 60000;    // one cycle is measured
    options.session.maxChanges = files + 10;  // it takes every report
    kqs::SyncServer server(book, options, log);
    server.start();
    std::thread serving([&] { server.run(); });
    kqs::test::ScriptedClient connected(root / "client", server.ports().at(0), "KQFILESYNC11234KEY1234abc");
    for (int i = 0; i < files; ++i) {
      std::string path = "/folder" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".txt";
      connected.queue({"MODIFIED", path, ""});
    }
    auto start = std::chrono::steady_clock::now();
    connected.start();
    bool done = connected.waitCycles(1, 30 * 60 * 1000);
    auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    connected.stop();
    server.stop();
    serving.join();
    if (!done) state.SkipWithError("the cycle did not end");
    state.SetIterationTime(took);
  }
  state.SetComplexityN(files);
  state.SetItemsProcessed(state.iterations() * files);
  fs::remove_all(root);
}
BENCHMARK(BM_ChangeReportsFetched)
    ->Arg(1000)->Arg(2500)->Arg(5000)->Arg(10000)
    ->Iterations(1)->UseManualTime()->Complexity()->Unit(benchmark::kMillisecond);

}  // namespace
