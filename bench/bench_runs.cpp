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

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "run/run.hpp"
#include "state/state.hpp"

namespace {

namespace fs = std::filesystem;

std::string i5(long v) {
  std::string t = std::to_string(v);
  return std::string(t.size() < 5 ? 5 - t.size() : 0, ' ') + t;
}
std::string f10(const std::string &v) {
  return std::string(v.size() < 10 ? 10 - v.size() : 0, ' ') + v;
}

// The parts the flow and transport decks share: a 15 km valley of 300
// elements of 50 m in three zones of 100 elements (widths 400, 900, 600 m),
// 101 logarithmic steps from 0.1 day (20 per factor ten, to 10000 days),
// 20 observation nodes (every 750 m) and 20 profiles (every 5th step).
const char *const kWidths[] = {"400.0", "900.0", "600.0"};

std::string counts(int nbt) {
  return i5(300) + i5(101) + i5(3) + i5(nbt) + i5(0) + i5(0) + i5(20) + i5(20) +
         "\n";
}
std::string meshAndZones() {
  return f10("0.0") + f10("15000.0") + f10("1.0") + "\n" + i5(1) + "\n" +
         i5(101) + "\n" + i5(201) + "\n";
}
std::string times() { return f10("0.0") + f10("0.1") + i5(20) + "\n"; }
std::string observationsAndProfiles() {
  std::string d;
  for (int k = 1; k <= 20; ++k) d += i5(15 * k + 1) + "\n";
  for (int k = 1; k <= 20; ++k) d += i5(5 * k) + "\n";
  return d;
}

// Unconfined aquifer on a base at 0 m, K = 30 m/d, specific yield 0.15,
// recharge 0.2 mm/d, an aquitard (1E-4 1/d) below a water body at 18 m with
// its leakage capped at 0.2 mm/d; heads 20 m and 10 m at the ends, 12 m at
// the start.
std::string flowDeck() {
  std::string d = "F\nflow.lst\nflow.grf\nflow.flx\n"
                  "benchmark: flow run at full capacity\n";
  d += counts(2);
  d += i5(1) + i5(0) + i5(1) + i5(0) + i5(0) + i5(1) + i5(2) + i5(1) + i5(1) +
       i5(0) + i5(1) + "\n";
  d += "flow.rst\nrestart file written at the end\n";
  d += "bench.vel\nvelocity file, one block per step\n";
  d += meshAndZones();
  for (const char *w : kWidths)
    d += f10("30.0") + f10("0.0") + f10("0.15") + f10("0.0") + f10("0.0002") +
         f10("0.0001") + f10("18.0") + f10(w) + f10("0.0002") + "\n";
  d += times();
  d += i5(1) + i5(1) + f10("20.0") + "\n";
  d += i5(301) + i5(1) + f10("10.0") + "\n";
  d += f10("12.0") + "\n";
  d += i5(100) + f10("0.001") + f10("0.75") + "\n"; // iteration criteria
  d += observationsAndProfiles();
  return d;
}

// Dispersivity 50 m, diffusion 1E-4 m2/d, porosity 0.2, retardation 1.5,
// decay 1E-4 1/d; 100 mg/L held at node 1. Velocities from the flow run's
// file (iodarc = 2) or a default Darcy velocity of 0.05 m/d in 15 m.
std::string transportDeck(int iodarc) {
  std::string d = "T\ntrans.lst\ntrans.grf\ntrans.flx\n"
                  "benchmark: transport run at full capacity\n";
  d += counts(1);
  d += i5(1) + i5(0) + i5(1) + i5(0) + i5(0) + i5(1) + i5(iodarc) + i5(1) +
       i5(0) + i5(0) + i5(1) + "\n";
  d += "trans.rst\nrestart file written at the end\n";
  if (iodarc > 0) d += "bench.vel\nvelocity file of the flow run\n";
  d += meshAndZones();
  for (const char *w : kWidths)
    d += f10("50.0") + f10("0.0001") + f10("0.2") + f10("1.5") + f10("0.0001") +
         f10("0.0") + f10("0.0") + f10(w) + "\n";
  d += times();
  d += i5(1) + i5(1) + f10("100.0") + "\n";
  d += f10("0.0") + "\n";
  if (iodarc <= 0) d += f10("0.05") + f10("15.0") + "\n";
  d += observationsAndProfiles();
  return d;
}

void writeDeck(const fs::path &dir, const std::string &deck) {
  std::ofstream out(dir / "VELDA.INP", std::ios::binary);
  out << deck;
}

// A new empty scratch folder.
fs::path scratch() {
  std::string tmpl = (fs::temp_directory_path() / "qmr-bench-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return fs::path(buf.data());
}

// While it lives, the working folder is `dir` and standard output (where
// each run shows its banner) goes to /dev/null.
class InQuietFolder {
public:
  explicit InQuietFolder(const fs::path &dir) : home_(fs::current_path()) {
    fs::current_path(dir);
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    null_ = open("/dev/null", O_WRONLY);
    dup2(null_, STDOUT_FILENO);
  }
  ~InQuietFolder() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(null_);
    fs::current_path(home_);
  }
  InQuietFolder(const InQuietFolder &) = delete;
  InQuietFolder &operator=(const InQuietFolder &) = delete;

private:
  fs::path home_;
  int saved_ = -1;
  int null_ = -1;
};

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
  const fs::path dir = scratch();
  writeDeck(dir, flowDeck());
  timeRuns(state, dir);
}

void BM_TransportRunVelocityFile(benchmark::State &state) {
  const fs::path dir = scratch();
  if (!prepare(dir, flowDeck())) {
    state.SkipWithError("the flow run that writes the velocity file failed");
    fs::remove_all(dir);
    return;
  }
  writeDeck(dir, transportDeck(2));
  timeRuns(state, dir);
}

void BM_TransportRunDefaultVelocity(benchmark::State &state) {
  const fs::path dir = scratch();
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
