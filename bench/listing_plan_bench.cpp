// kqsyncd's listing plan: sorting a parsed listing, the pass that finds the
// figures, and handing out every action, for a listing of new files (each a
// fetch) and one of files the store holds in step (nothing to do).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "listing_plan.h"

namespace {

constexpr std::int64_t kT = 1700000000;

// listingOf names files in folders of 1,000, as bench/listing_memory.py sends them, shuffled.
std::vector<kqs::ListingEntry> listingOf(std::int64_t files) {
  std::vector<kqs::ListingEntry> out;
  out.reserve(static_cast<std::size_t>(files));
  char name[64];
  for (std::int64_t i = 0; i < files; ++i) {
    std::snprintf(name, sizeof name, "/folder%04lld/document-%07lld.txt", static_cast<long long>(i / 1000),
                  static_cast<long long>(i));
    out.push_back({name, false, 1000 + i % 5000, kT});
  }
  std::shuffle(out.begin(), out.end(), std::mt19937(7));
  return out;
}

void planAll(benchmark::State& state, const kqs::PlanInput& in, const std::vector<kqs::ListingEntry>& listing) {
  std::size_t actions = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto entries = listing;
    state.ResumeTiming();
    kqs::ListingPlan plan(std::move(entries), in);
    for (auto batch = plan.next(); !batch.empty(); batch = plan.next()) actions += batch.size();
  }
  benchmark::DoNotOptimize(actions);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(listing.size()));
}

void BM_ListingPlanNewFiles(benchmark::State& state) {
  planAll(state, kqs::PlanInput{}, listingOf(state.range(0)));
}
BENCHMARK(BM_ListingPlanNewFiles)->Arg(10000)->Arg(167773)->Arg(671089)->Unit(benchmark::kMillisecond);

void BM_ListingPlanFilesInStep(benchmark::State& state) {
  auto listing = listingOf(state.range(0));
  kqs::PlanInput in;
  for (auto& e : listing) in.store[e.path] = {e.path, false, e.size, e.mtime, "hash", 1, false, 0};
  planAll(state, in, listing);
}
BENCHMARK(BM_ListingPlanFilesInStep)->Arg(10000)->Arg(167773)->Unit(benchmark::kMillisecond);

}  // namespace
