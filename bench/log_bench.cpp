// A disabled log entry must cost one comparison: compare it with an enabled one.
#include <benchmark/benchmark.h>

#include "log/DebugLog.h"

static void BM_DisabledEntry(benchmark::State& state) {
  vDEBUG_SetLevel(0);
  for (auto _ : state) vDEBUG_MSG_printf("Bench::Disabled", "value %d", 42);
}
BENCHMARK(BM_DisabledEntry);

static void BM_EnabledEntryToNullSink(benchmark::State& state) {
  vDEBUG_SetLevel(3);
  vDEBUG_SetSink([](std::string_view) {});
  for (auto _ : state) vDEBUG_MSG_printf("Bench::Enabled", "value %d", 42);
  vDEBUG_SetSink({});
  vDEBUG_SetLevel(0);
}
BENCHMARK(BM_EnabledEntryToNullSink);

BENCHMARK_MAIN();
