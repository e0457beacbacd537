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

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "run/run.hpp"
#include "state/state.hpp"

#include "quiet_folder.hpp"

namespace {

namespace fs = std::filesystem;

std::string i5(long v) {
  std::string t = std::to_string(v);
  return std::string(t.size() < 5 ? 5 - t.size() : 0, ' ') + t;
}
std::string f10(const std::string &v) {
  return std::string(v.size() < 10 ? 10 - v.size() : 0, ' ') + v;
}

// A 15 km valley, one medium, NE uniform elements, NTS linear steps of
// 10 days, 20 observation nodes spread along it and 20 profiles spread over
// the steps; the value held at node 1 (and the head at the far end).
std::string scaleDeck(bool flow, int ne, int nts, int istep) {
  const int np = ne + 1;
  std::string d = flow ? "F OW\nscale.lst\nscale.grf\nbenchmark: flow\n"
                       : "T OW\nscale.lst\nscale.grf\nbenchmark: transport\n";
  d += i5(ne) + i5(nts) + i5(1) + i5(flow ? 2 : 1) + i5(0) + i5(0) + i5(20) +
       i5(20) + "\n";
  d += i5(1) + i5(0) + i5(istep) + i5(0) + i5(0) + i5(0) + i5(0) + i5(1) +
       i5(0) + i5(0) + i5(1) + "\n";
  d += f10("0.0") + f10("15000.0") + f10("1.0") + "\n" + i5(1) + "\n";
  if (flow) {
    d += f10("30.0") + f10("0.0") + f10("0.001") + f10("20.0") + f10("0.0") +
         f10("0.0") + f10("0.0") + f10("600.0") + f10("0.0") + "\n";
  } else {
    d += f10("50.0") + f10("0.0001") + f10("0.2") + f10("1.5") + f10("0.0001") +
         f10("0.0") + f10("0.0") + f10("600.0") + "\n";
  }
  d += f10("0.0") + f10("10.0") + i5(0) + "\n";
  if (flow) {
    d += i5(1) + i5(1) + f10("20.0") + "\n";
    d += i5(np) + i5(1) + f10("10.0") + "\n";
    d += f10("12.0") + "\n";
  } else {
    d += i5(1) + i5(1) + f10("100.0") + "\n";
    d += f10("0.0") + "\n";
    d += f10("0.05") + f10("15.0") + "\n";
  }
  for (int k = 1; k <= 20; ++k) d += i5(1 + (np - 1) * k / 20) + "\n";
  for (int k = 1; k <= 20; ++k)
    d += i5(nts * k / 20 > 0 ? nts * k / 20 : 1) + "\n";
  return d;
}

void writeDeck(const fs::path &dir, const std::string &deck) {
  std::ofstream out(dir / "VELDA.INP", std::ios::binary);
  out << deck;
}

fs::path scratch() {
  std::string tmpl = (fs::temp_directory_path() / "qmr-scale-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return fs::path(buf.data());
}

using qmrbench::InQuietFolder;

void timeScale(benchmark::State &state, bool flow) {
  const int ne = static_cast<int>(state.range(0));
  const int nts = static_cast<int>(state.range(1));
  const fs::path dir = scratch();
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
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
