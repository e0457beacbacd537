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

#include "quiet_folder.hpp"

namespace {

namespace fs = std::filesystem;

// The parts the flow and transport decks share: a 15 km valley of 300
// elements of 50 m in three zones of 100 elements (widths 400, 900, 600 m),
// 101 logarithmic steps from 0.1 day (20 per factor ten, to 10000 days),
// 20 observation nodes (every 750 m) and 20 profiles (every 5th step).
const double kWidths[] = {400.0, 900.0, 600.0};

void fullCapacity(qmrtest::RunDeck &d) {
  d.ne = 300;
  d.xn = 15000.0;
  d.zones = {1, 101, 201};
  d.nts = 101;
  d.delta1 = 0.1;
  d.ntslog = 20;
  for (int k = 1; k <= 20; ++k) d.observations.push_back(15 * k + 1);
  for (int k = 1; k <= 20; ++k) d.profiles.push_back(5 * k);
}

// Unconfined aquifer on a base at 0 m, K = 30 m/d, specific yield 0.15,
// recharge 0.2 mm/d, an aquitard (1E-4 1/d) below a water body at 18 m with
// its leakage capped at 0.2 mm/d; heads 20 m and 10 m at the ends, 12 m at
// the start.
std::string flowDeck() {
  qmrtest::FlowDeck d;
  d.listing = "flow.lst";
  d.graphic = "flow.grf";
  d.flux = "flow.flx";
  d.title = "benchmark: flow run at full capacity";
  fullCapacity(d);
  d.restartOut = "flow.rst";
  d.velocity = "bench.vel";
  d.codes.iodarc = 2; // one block per step
  d.codes.i2dwt = 1;
  d.media.clear();
  for (double w : kWidths)
    d.media.push_back({30.0, 0.0, 0.15, 0.0, 0.0002, 0.0001, 18.0, w, 0.0002});
  d.values = {{1, 20.0}, {301, 10.0}};
  d.initial = 12.0;
  d.nitmax = 100; // iteration criteria
  d.toler = 0.001;
  d.relax = 0.75;
  return d.text();
}

// Dispersivity 50 m, diffusion 1E-4 m2/d, porosity 0.2, retardation 1.5,
// decay 1E-4 1/d; 100 mg/L held at node 1. Velocities from the flow run's
// file (iodarc = 2) or a default Darcy velocity of 0.05 m/d in 15 m.
std::string transportDeck(int iodarc) {
  qmrtest::TransportDeck d;
  d.listing = "trans.lst";
  d.graphic = "trans.grf";
  d.flux = "trans.flx";
  d.title = "benchmark: transport run at full capacity";
  fullCapacity(d);
  d.restartOut = "trans.rst";
  if (iodarc > 0) {
    d.velocity = "bench.vel";
    d.codes.iodarc = iodarc;
  }
  d.media.clear();
  for (double w : kWidths)
    d.media.push_back({50.0, 0.0001, 0.2, 1.5, 0.0001, 0.0, 0.0, w});
  d.values = {{1, 100.0}};
  d.darcy = 0.05;
  d.thick = 15.0;
  return d.text();
}

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
