// The end of a benchmark program's main that first looks for options of
// its own (decks written for profiling): Google Benchmark's own run.
#pragma once

#include <benchmark/benchmark.h>

namespace qmrbench {

inline int runBenchmarks(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

} // namespace qmrbench
