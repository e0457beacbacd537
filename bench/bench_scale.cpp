// Runs of qmr beyond the legacy capacities: how the cost grows with the size
// of the model. Each run gets a fresh model state, reads VELDA.INP in a
// scratch folder and must end normally.
//
//   BM_TransportScale/NE/NTS  a transport run of NE elements and NTS linear
//                             steps with a default velocity (the listing
//                             prints every node of every step); the counter
//                             per_element_step is the CPU time of one run
//                             divided by NE × NTS, in seconds.
//   BM_FlowScale/NE/NTS       a confined flow run printing its nodal table
//                             on the last step only.
//
// With --write-deck=KIND,NE,NTS,ISTEP,FOLDER the program writes one such deck
// (KIND flow or transport) as FOLDER/VELDA.INP and exits, so that the
// program itself can be run on it under /usr/bin/time (scripts/bench-scale.sh).
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "deck.hpp"
#include "run/run.hpp"
#include "state/state.hpp"
#include "system.hpp"

#include "bench_main.hpp"
#include "quiet_folder.hpp"

namespace {

namespace fs = std::filesystem;

using qmrtest::Codes;
using qmrtest::Counts;
using qmrtest::fields;
using qmrtest::i5;

// A 15 km valley, one medium, NE uniform elements, NTS linear steps of
// 10 days, 20 observation nodes spread along it and 20 profiles spread over
// the steps; the value held at node 1 (and the head at the far end).
std::string scaleDeck(bool flow, int ne, int nts, int istep) {
  const int np = ne + 1;
  qmrtest::Deck d;
  d << (flow ? "F OW" : "T OW") << "scale.lst"
    << "scale.grf" << (flow ? "benchmark: flow" : "benchmark: transport");
  d << record(Counts{ne, nts, 1, flow ? 2 : 1, 0, 0, 20, 20});
  Codes c;
  c.istep = istep;
  d << record(c);
  d << fields({"0.0", "15000.0", "1.0"}) << i5(1);
  if (flow) {
    d << fields(
        {"30.0", "0.0", "0.001", "20.0", "0.0", "0.0", "0.0", "600.0", "0.0"});
  } else {
    d << fields(
        {"50.0", "0.0001", "0.2", "1.5", "0.0001", "0.0", "0.0", "600.0"});
  }
  d << fields({"0.0", "10.0"}) + i5(0);
  if (flow) {
    d << i5(1) + i5(1) + fields({"20.0"});
    d << i5(np) + i5(1) + fields({"10.0"});
    d << fields({"12.0"});
  } else {
    d << i5(1) + i5(1) + fields({"100.0"});
    d << fields({"0.0"});
    d << fields({"0.05", "15.0"});
  }
  for (int k = 1; k <= 20; ++k) d << i5(1 + (np - 1) * k / 20);
  for (int k = 1; k <= 20; ++k) d << i5(nts * k / 20 > 0 ? nts * k / 20 : 1);
  return d.text;
}

void writeDeck(const fs::path &dir, const std::string &deck) {
  qmrtest::writeFile(dir / "VELDA.INP", deck);
}

using qmrbench::InQuietFolder;

void timeScale(benchmark::State &state, bool flow) {
  const int ne = static_cast<int>(state.range(0));
  const int nts = static_cast<int>(state.range(1));
  const fs::path dir = qmrtest::scratch("scale");
  writeDeck(dir, scaleDeck(flow, ne, nts, flow ? nts : 1));
  int status = 0;
  {
    InQuietFolder quiet(dir);
    for (auto _ : state) {
      auto s = std::make_unique<qmr::State>();
      status = qmr::runMain(*s);
      if (status != 0) break;
    }
  }
  fs::remove_all(dir);
  if (status != 0) {
    state.SkipWithError(
        ("run ended with status " + std::to_string(status)).c_str());
    return;
  }
  // Seconds per element-step (of the time the benchmark measures, here
  // the process's CPU time): shown as, say, 750n.
  state.counters["per_element_step"] =
      benchmark::Counter(static_cast<double>(ne) * nts,
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

void BM_TransportScale(benchmark::State &state) { timeScale(state, false); }
void BM_FlowScale(benchmark::State &state) { timeScale(state, true); }

} // namespace

BENCHMARK(BM_TransportScale)
    ->Args({300, 100})
    ->Args({3000, 200})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_FlowScale)
    ->Args({300, 100})
    ->Args({3000, 200})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

int main(int argc, char **argv) {
  const char *const kWrite = "--write-deck=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kWrite, std::strlen(kWrite)) != 0) continue;
    std::stringstream what(argv[i] + std::strlen(kWrite));
    std::string kind, ne, nts, istep, dir;
    std::getline(what, kind, ',');
    std::getline(what, ne, ',');
    std::getline(what, nts, ',');
    std::getline(what, istep, ',');
    std::getline(what, dir);
    fs::create_directories(dir);
    writeDeck(dir, scaleDeck(kind == "flow", std::stoi(ne), std::stoi(nts),
                             std::stoi(istep)));
    return 0;
  }
  return qmrbench::runBenchmarks(argc, argv);
}
