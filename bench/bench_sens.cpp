// The cost of exact sensitivities: whole runs of 300 elements and 101 steps
// (the decks of bench_decks.hpp, every file but the velocity file written) with
// the derivatives of P parameters, P = 0 (the plain run), 1, 4 and 12, timed
// in-process. The rows of X.sens.csv are left out (no output asked for), so the
// figures are the cost of the derivatives alone; --sensitivity-outputs writes
// them.
//
//   BM_ConfinedFlow/P      confined, three zones, linear: one iteration a step;
//                          conductivity, storativity, recharge and leakance
//                          of each zone
//   BM_WaterTableCapped/P  water table and leakage cap: every step iterates
//   BM_Transport/P         default velocity; dispersivity, porosity,
//                          retardation and decay of each zone
//   BM_ConfinedFlow3000/P  the confined run on 3,000 elements
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "deck.hpp"
#include "run/run.hpp"
#include "state/state.hpp"
#include "system.hpp"

#include "bench_decks.hpp"
#include "bench_main.hpp"
#include "quiet_folder.hpp"

namespace fs = std::filesystem;

namespace {

// The first p of the twelve parameters of a deck: four names in each of
// the three zones.
std::vector<qmr::Parameter> parameters(const std::vector<std::string> &names,
                                       int p) {
  std::vector<qmr::Parameter> out;
  for (int k = 0; k < p; ++k) {
    std::string why;
    const std::string path = "media[" + std::to_string(k / 4 + 1) + "]." +
                             names[static_cast<std::size_t>(k % 4)];
    out.push_back(*qmr::parseParameter(path, why));
  }
  return out;
}

void timeRuns(benchmark::State &state, const std::string &deck,
              const std::vector<std::string> &names) {
  const fs::path dir = qmrtest::scratch("bench-sens");
  qmrtest::writeFile(dir / "VELDA.INP", deck);
  const auto params = parameters(names, static_cast<int>(state.range(0)));
  int status = 0;
  {
    qmrbench::InQuietFolder quiet(dir);
    for (auto _ : state) {
      auto s = std::make_unique<qmr::State>();
      s->opt.sensitivity = params;
      s->opt.sensObservations = s->opt.sensFluxes = false;
      status = qmr::runMain(*s);
      if (status != 0) break;
    }
  }
  if (status != 0)
    state.SkipWithError(("status " + std::to_string(status)).c_str());
  fs::remove_all(dir);
}

const std::vector<std::string> kFlowNames = {"conductivity", "storativity",
                                             "recharge", "leakance"};

void BM_ConfinedFlow(benchmark::State &state) {
  timeRuns(state, qmrbench::flowDeck(false, 300, false), kFlowNames);
}
void BM_WaterTableCapped(benchmark::State &state) {
  timeRuns(state, qmrbench::flowDeck(true, 300, false), kFlowNames);
}
void BM_Transport(benchmark::State &state) {
  timeRuns(state, qmrbench::transportDeck(0),
           {"dispersivity", "porosity", "retardation", "decay"});
}
void BM_ConfinedFlow3000(benchmark::State &state) {
  timeRuns(state, qmrbench::flowDeck(false, 3000, false), kFlowNames);
}

} // namespace

BENCHMARK(BM_ConfinedFlow)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaterTableCapped)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transport)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfinedFlow3000)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);

// --write-decks DIR writes the four decks to DIR (confined.inp,
// watertable.inp, transport.inp, confined3000.inp), for profiling single
// runs of the program; otherwise the benchmarks run.
int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-decks") {
    const fs::path dir = argv[2];
    fs::create_directories(dir);
    qmrtest::writeFile(dir / "confined.inp",
                       qmrbench::flowDeck(false, 300, false));
    qmrtest::writeFile(dir / "watertable.inp",
                       qmrbench::flowDeck(true, 300, false));
    qmrtest::writeFile(dir / "transport.inp", qmrbench::transportDeck(0));
    qmrtest::writeFile(dir / "confined3000.inp",
                       qmrbench::flowDeck(false, 3000, false));
    return 0;
  }
  return qmrbench::runBenchmarks(argc, argv);
}
