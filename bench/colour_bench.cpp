// What turning the BT.709 conversion on costs once, before the first frame: filling the lookup of
// every triple, on every worker. Frames after it only read the lookup.
#include <benchmark/benchmark.h>

#include "bench/bench_files.h"
#include "colour/colour.h"
#include "platform/workers.h"

namespace {

void BM_ColourLookupFill(benchmark::State& state) {
  BuildColourTables();
  PlatformStartWorkers(BenchWorkers());
  for (auto _ : state) {
    BuildColourTables();  // empties the lookup, so the next stage fills it again
    benchmark::DoNotOptimize(PrepareColourStage(true, true).Lookup);
  }
}

const auto* kColourCases =
    RegisterCases("BM_ColourLookupFill", BM_ColourLookupFill, {}, Timing::kReal);

}  // namespace
