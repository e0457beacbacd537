// Whole runs of qmr at full capacity, timed in-process: 300 elements, 101
// time steps, 20 observation nodes and 20 profiles, every step printed, with
// every file the run can write. Each run gets a fresh model state, reads
// VELDA.INP in a scratch folder and must end normally.
//
//   BM_FlowRun                      water-table run with a leakage cap (so
//                                   every step iterates); flux, restart and
//                                   velocity files (a block every step)
//   BM_TransportRunVelocityFile     its transport twin, reading the flow
//                                   run's velocity file block by block; flux
//                                   and restart files
//   BM_TransportRunDefaultVelocity  the same transport run with a default
//                                   velocity
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "deck.hpp"
#include "run/run.hpp"
#include "state/state.hpp"
#include "system.hpp"

#include "bench_decks.hpp"
#include "quiet_folder.hpp"

namespace {

namespace fs = std::filesystem;

using qmrbench::flowDeck;
using qmrbench::transportDeck;

void writeDeck(const fs::path &dir, const std::string &deck) {
  qmrtest::writeFile(dir / "VELDA.INP", deck);
}

using qmrbench::InQuietFolder;

// One whole run in the working folder with a fresh model state.
int runOnce() {
  auto s = std::make_unique<qmr::State>();
  return qmr::runMain(*s);
}

// Times whole runs of the deck in `dir`, then removes the folder.
void timeRuns(benchmark::State &state, const fs::path &dir) {
  int status = 0;
  {
    InQuietFolder quiet(dir);
    for (auto _ : state) {
      status = runOnce();
      if (status != 0) break;
    }
  }
  if (status != 0)
    state.SkipWithError(
        ("run ended with status " + std::to_string(status)).c_str());
  fs::remove_all(dir);
}

// Runs the deck once outside the timing (the flow run that leaves the
// velocity file for a transport run); false if it did not end normally.
bool prepare(const fs::path &dir, const std::string &deck) {
  writeDeck(dir, deck);
  InQuietFolder quiet(dir);
  return runOnce() == 0;
}

void BM_FlowRun(benchmark::State &state) {
  const fs::path dir = qmrtest::scratch("bench");
  writeDeck(dir, flowDeck());
  timeRuns(state, dir);
}

void BM_TransportRunVelocityFile(benchmark::State &state) {
  const fs::path dir = qmrtest::scratch("bench");
  if (!prepare(dir, flowDeck())) {
    state.SkipWithError("the flow run that writes the velocity file failed");
    fs::remove_all(dir);
    return;
  }
  writeDeck(dir, transportDeck(2));
  timeRuns(state, dir);
}

void BM_TransportRunDefaultVelocity(benchmark::State &state) {
  const fs::path dir = qmrtest::scratch("bench");
  writeDeck(dir, transportDeck(0));
  timeRuns(state, dir);
}

} // namespace

BENCHMARK(BM_FlowRun)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransportRunVelocityFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TransportRunDefaultVelocity)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
