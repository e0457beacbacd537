// Parameters at full precision (--set, --parameters) and exact
// sensitivities (--sensitivity): every derivative that is not flagged agrees
// with a central difference of the program's own doubles, taken through
// --set with a step chosen per parameter, on decks of every option.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "deck.hpp"
#include "run_args.hpp"
#include "support.hpp"
#include "verify/verify_util.hpp"

namespace {

using qmrtest::FlowDeck;
using qmrtest::runArgs;
using qmrtest::TransportDeck;
using qmrverify::Scratch;
namespace fs = std::filesystem;

// One row of X.sens.csv.
struct Row {
  std::string parameter, output;
  int step = 0;
  int node = 0;
  double value = 0.0, derivative = 0.0;
  std::string flag;
};

std::vector<Row> readSens(const std::string &text) {
  std::vector<Row> rows;
  const auto ls = qmrtest::lines(text);
  EXPECT_FALSE(ls.empty());
  if (ls.empty()) return rows;
  EXPECT_EQ(ls[0],
            "parameter,output,step,time,node,x,value,derivative,flag,name");
  for (std::size_t i = 1; i < ls.size(); ++i) {
    auto f = qmrtest::splitCsv(ls[i]);
    EXPECT_EQ(f.size(), 10u) << ls[i];
    if (f.size() != 10) continue;
    EXPECT_EQ(f[9], "") << ls[i]; // a name only on a measurement's row
    rows.push_back({f[0], f[1], std::stoi(f[2]),
                    f[4].empty() ? 0 : std::stoi(f[4]), std::stod(f[6]),
                    std::stod(f[7]), f[8]});
  }
  return rows;
}

// The outputs of a run, in the order of X.sens.csv: per step the
// observations, then per prescribed-value node the rate and the amount
// accumulated, then the terms of the mass balance; and the largest
// magnitude of each output series.
struct Outputs {
  std::vector<double> v;
  std::vector<double> largest;
};

Outputs outputs(const fs::path &dir) {
  // Every column but the step and the time (and the imbalance, which has no
  // derivative), file by file.
  std::vector<qmrtest::Csv> files;
  for (const char *name : {"run.obs.csv", "run.flux.csv", "run.balance.csv"})
    files.push_back(qmrtest::readCsv(qmrtest::readFile(dir / name)));
  files[2].header.pop_back();
  std::vector<double> peak;
  for (const auto &f : files)
    for (std::size_t i = 2; i < f.header.size(); ++i) {
      double m = 0.0;
      for (const auto &row : f.rows) m = std::max(m, std::fabs(row[i]));
      peak.push_back(m);
    }
  Outputs o;
  for (std::size_t k = 0; k < files[0].rows.size(); ++k) {
    std::size_t col = 0;
    for (const auto &f : files)
      for (std::size_t i = 2; i < f.header.size(); ++i, ++col) {
        o.v.push_back(f.rows[k][i]);
        o.largest.push_back(peak[col]);
      }
  }
  return o;
}

// Runs the deck in a fresh folder with the parameter set to v; the outputs.
Outputs runAt(const std::string &deck, const std::string &path, double v,
              const std::string &more = "") {
  Scratch dir("sens-fd");
  qmrtest::writeFile(dir.path() / "VELDA.INP", deck);
  const auto r =
      runArgs(dir.path(), "--quiet --no-listing --csv --set " + path + "=" +
                              qmrtest::digits17(v) + more);
  EXPECT_EQ(r.status, 0) << r.err;
  return outputs(dir.path());
}

// The derivatives of every output with respect to `path` at v0 against
// central differences of the program's doubles (five-point). The step is
// chosen per parameter: of the relative steps 1e-2 .. 1e-5, the one whose
// difference agrees best with the difference of a step ten times smaller
// (round-off grows as the step shrinks, truncation as it grows); what the two
// still disagree by is the central difference's own error and widens the
// tolerance. The tolerance: 1e-6 relative, with a floor of 1e-9 of the
// largest value of the output's series for a relative change of the
// parameter (outputs at round-off level, as a flux far from any change).
// Returns the number of derivatives compared (those not flagged).
int expectExact(const std::string &deck, const std::string &path, double v0) {
  Scratch dir("sens-exact");
  qmrtest::writeFile(dir.path() / "VELDA.INP", deck);
  const auto r =
      runArgs(dir.path(), "--quiet --no-listing --csv --set " + path + "=" +
                              qmrtest::digits17(v0) +
                              " --sensitivity-outputs observations,fluxes,"
                              "balance --sensitivity " +
                              path);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto rows = readSens(qmrtest::readFile(dir.path() / "run.sens.csv"));
  const Outputs base = outputs(dir.path());
  EXPECT_EQ(rows.size(), base.v.size()) << path;
  if (rows.size() != base.v.size()) return 0;
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i].value, base.v[i]) << path << " row " << i;

  std::vector<std::vector<double>> fd;
  for (double rel : {1e-2, 1e-3, 1e-4, 1e-5, 1e-6}) {
    // The five-point central difference: its truncation error goes with h^4.
    const double h = rel * std::fabs(v0);
    const Outputs p1 = runAt(deck, path, v0 + h);
    const Outputs m1 = runAt(deck, path, v0 - h);
    const Outputs p2 = runAt(deck, path, v0 + 2 * h);
    const Outputs m2 = runAt(deck, path, v0 - 2 * h);
    std::vector<double> d(p1.v.size());
    for (std::size_t i = 0; i < d.size(); ++i)
      d[i] = (8.0 * (p1.v[i] - m1.v[i]) - (p2.v[i] - m2.v[i])) / (12.0 * h);
    fd.push_back(d);
  }
  auto tol = [&](std::size_t i, double central) {
    return 1e-6 * std::fabs(central) + 1e-9 * base.largest[i] / std::fabs(v0);
  };
  std::size_t best = 0;
  double bestSpread = INFINITY;
  for (std::size_t k = 0; k + 1 < fd.size(); ++k) {
    double spread = 0.0;
    for (std::size_t i = 0; i < rows.size(); ++i)
      spread = std::max(spread, std::fabs(fd[k][i] - fd[k + 1][i]) /
                                    (tol(i, fd[k][i]) + 1e-300));
    if (spread < bestSpread) {
      bestSpread = spread;
      best = k;
    }
  }
  int compared = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].flag.empty()) continue;
    ++compared;
    const double central = fd[best][i];
    const double own = std::fabs(fd[best][i] - fd[best + 1][i]);
    EXPECT_LE(std::fabs(rows[i].derivative - central), tol(i, central) + own)
        << path << ": " << rows[i].output << " at step " << rows[i].step
        << ", node " << rows[i].node << ": " << rows[i].derivative
        << " against " << central;
  }
  return compared;
}

// A confined aquifer between a fixed head and a pumping well, with
// recharge and leakage from above capped in part of the valley, in centred
// steps; three media interpolated between control nodes.
FlowDeck confined() {
  FlowDeck f;
  f.ne = 12;
  f.xn = 120.0;
  f.nts = 6;
  f.delta1 = 0.5;
  f.codes.ipcode = 2;
  f.media = {{2.0, 1e-4, 0.01, 5.0, 1e-3, 0.002, 12.0, 1.5, 0.004},
             {3.0, 2e-4, 0.02, 6.0, 2e-3, 0.001, 11.0, 2.0, 0.0},
             {1.0, 1e-4, 0.01, 4.0, 0.0, 0.003, 13.0, 1.0, 0.02}};
  f.values = {{1, 10.0}};
  f.fluxes = {{13, -0.5}};
  f.initial = 10.0;
  f.observations = {2, 7, 13};
  return f;
}

TEST(Sensitivity, ConfinedFlowEveryFlowParameter) {
  const std::string deck = confined().text();
  int compared = 0;
  for (auto [path, v] : std::vector<std::pair<std::string, double>>{
           {"media[1].conductivity", 2.0},
           {"media[2].conductivity", 3.0},
           {"media[1].specific_storage", 1e-4},
           {"media[2].storativity", 0.02},
           {"media[3].thickness", 4.0},
           {"media[1].recharge", 1e-3},
           {"media[3].leakance", 0.003},
           {"media[2].head_beyond_aquitard", 11.0},
           {"media[2].width", 2.0},
           {"media[1].max_leakage", 0.004},
           {"prescribed_values[1].value", 10.0},
           {"prescribed_fluxes[1].rate", -0.5},
           {"initial_value", 10.0}})
    compared += expectExact(deck, path, v);
  EXPECT_GT(compared, 13 * 6 * 3) << compared; // most are not flagged
}

TEST(Sensitivity, RadialFlow) {
  FlowDeck radial;
  radial.codes.iaxsym = 1;
  radial.codes.imshgn = 3; // logarithmic radii
  radial.x1 = 0.1;
  radial.xn = 300.0;
  radial.ne = 30;
  radial.nts = 12; // the cone reaches the outer boundary
  radial.delta1 = 0.01;
  radial.ntslog = 4;
  radial.media = {{20.0, 8e-6, 0.0, 25.0, 0.0, 0.0, 0.0, 0.0, 0.0}};
  radial.values = {{31, 50.0}};
  radial.fluxes = {{1, -100.0}};
  radial.initial = 50.0;
  radial.observations = {1, 11, 21};
  for (auto [path, v] : std::vector<std::pair<std::string, double>>{
           {"media[1].conductivity", 20.0},
           {"media[1].specific_storage", 8e-6},
           {"prescribed_fluxes[1].rate", -100.0}})
    expectExact(radial.text(), path, v);
}

TEST(Sensitivity, WaterTableFlow) {
  FlowDeck wt;
  wt.ne = 8;
  wt.xn = 80.0;
  wt.nts = 5;
  wt.codes.i2dwt = 1;
  wt.media = {{1.5, 1e-4, 0.15, 0.0, 2e-3, 0.0, 0.0, 1.0, 0.0}};
  wt.values = {{1, 4.0}};
  wt.initial = 6.0;
  wt.nitmax = 50;
  wt.toler = 1e-6;
  wt.relax = 1.0;
  wt.observations = {3, 9};
  for (auto [path, v] : std::vector<std::pair<std::string, double>>{
           {"media[1].conductivity", 1.5},
           {"media[1].storativity", 0.15},
           {"media[1].recharge", 2e-3}})
    expectExact(wt.text(), path, v);
}

TEST(Sensitivity, TransportParameters) {
  TransportDeck t = qmrtest::smallTransport();
  t.observations = {3, 6, 11};
  int compared = 0;
  for (auto [path, v] : std::vector<std::pair<std::string, double>>{
           {"media[1].dispersivity", 2.0},
           {"media[1].diffusion", 0.01},
           {"media[1].porosity", 0.3},
           {"media[1].retardation", 1.5},
           {"media[1].decay", 0.001},
           {"media[1].width", 2.0},
           {"default_velocity", 0.2},
           {"default_thickness", 5.0},
           {"prescribed_values[1].value", 1.0},
           {"prescribed_fluxes[1].fluid_flux", 0.4}})
    compared += expectExact(t.text(), path, v);
  EXPECT_GT(compared, 10 * 10 * 3);
}

// Many parameters at once give the derivatives each gives alone: more than
// one group carries them (the first iterates for the run, the others beside
// it), each derivative on its own lane.
TEST(Sensitivity, ManyParametersAtOnceAsEachAlone) {
  const std::string deck = confined().text();
  const std::vector<std::string> paths = {"media[1].conductivity",
                                          "media[2].conductivity",
                                          "media[3].conductivity",
                                          "media[1].storativity",
                                          "media[2].leakance",
                                          "prescribed_values[1].value",
                                          "media[1].recharge",
                                          "media[2].recharge",
                                          "media[3].recharge",
                                          "media[1].head_beyond_aquitard",
                                          "media[2].head_beyond_aquitard",
                                          "media[3].head_beyond_aquitard",
                                          "media[2].storativity",
                                          "media[3].storativity",
                                          "media[1].leakance",
                                          "media[3].leakance",
                                          "initial_value",
                                          "media[2].specific_storage"};
  Scratch all("sens-all");
  qmrtest::writeFile(all.path() / "VELDA.INP", deck);
  std::string args =
      "--quiet --sensitivity-outputs observations,fluxes,profiles";
  for (const auto &p : paths) args += " --sensitivity " + p;
  ASSERT_EQ(runArgs(all.path(), args).status, 0);
  const auto together =
      readSens(qmrtest::readFile(all.path() / "run.sens.csv"));
  std::map<std::string, std::vector<Row>> byParameter;
  for (const Row &r : together) byParameter[r.parameter].push_back(r);
  for (const auto &p : paths) {
    Scratch one("sens-one");
    qmrtest::writeFile(one.path() / "VELDA.INP", deck);
    ASSERT_EQ(
        runArgs(one.path(), "--quiet --sensitivity-outputs observations,fluxes,"
                            "profiles --sensitivity " +
                                p)
            .status,
        0);
    const auto alone = readSens(qmrtest::readFile(one.path() / "run.sens.csv"));
    ASSERT_EQ(alone.size(), byParameter[p].size()) << p;
    for (std::size_t i = 0; i < alone.size(); ++i) {
      EXPECT_EQ(alone[i].output, byParameter[p][i].output);
      EXPECT_EQ(alone[i].derivative, byParameter[p][i].derivative) << p;
    }
  }
}

// The parameters of the command line: values at full precision, the usage
// errors, and paths this deck does not have.
TEST(Parameters, SetAndParameterFileAndTheirFaults) {
  FlowDeck f = confined();
  Scratch dir("params");
  qmrtest::writeFile(dir.path() / "VELDA.INP", f.text());
  // A value with more digits than any field holds is used as it is: a
  // conductivity 2 + 1e-12 is not 2.
  auto r = runArgs(dir.path(),
                   "--quiet --csv --set media[1].conductivity=2.000000000001");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string lst = qmrtest::readFile(dir.path() / "run.lst");
  EXPECT_NE(lst.find(" VALUES SET ON THE COMMAND LINE: media[1].conductivity "
                     "= 2.000000000001\n"),
            std::string::npos);
  const Outputs fine = outputs(dir.path());
  runArgs(dir.path(), "--quiet --csv");
  const Outputs plain = outputs(dir.path());
  EXPECT_NE(fine.v, plain.v);

  // A file of values; --set wins over it.
  qmrtest::writeFile(dir.path() / "p.txt",
                     "# calibrated\nmedia[1].conductivity 2.5\n\n"
                     "initial_value 10   # m\n");
  r = runArgs(dir.path(), "--quiet --parameters p.txt "
                          "--set media[1].conductivity=3");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(qmrtest::readFile(dir.path() / "run.lst")
                .find("VALUES SET ON THE COMMAND LINE: media[1].conductivity "
                      "= 3, initial_value = 10\n"),
            std::string::npos);

  // Usage errors: nothing is read or written.
  Scratch empty("params-usage");
  qmrtest::writeFile(empty.path() / "VELDA.INP", f.text());
  qmrtest::writeFile(empty.path() / "twice.txt",
                     "initial_value 1\ninitial_value 2\n");
  for (const char *bad :
       {"--set media[1].conductivty=2", "--set media[1].conductivity",
        "--set media[0].conductivity=1", "--set initial_value[2]=1",
        "--set media[1].conductivity=1 --set media[1].conductivity=2",
        "--parameters twice.txt", "--sensitivity media.conductivity",
        "--sensitivity-outputs heads"}) {
    r = runArgs(empty.path(), bad);
    EXPECT_EQ(r.status, 64) << bad;
    EXPECT_FALSE(fs::exists(empty.path() / "run.lst")) << bad;
  }
  r = runArgs(empty.path(), "--set media[1].conductivty=2");
  EXPECT_NE(r.err.find("did you mean media[1].conductivity?"),
            std::string::npos)
      << r.err;

  // Names of another deck or beyond this one end the run before its first
  // step, naming the path.
  for (auto [bad, why] : std::vector<std::pair<std::string, std::string>>{
           {"--set media[4].conductivity=1", "the deck has 3 media"},
           {"--sensitivity prescribed_values[2].value",
            "the deck has 1 prescribed values"},
           {"--set media[1].porosity=0.3", "a flow deck has no such"},
           {"--set transport.initial_value=1", "the deck is a flow deck"},
           {"--sensitivity media[2].max_leakage", "stands for no cap"}}) {
    Scratch d("params-deck");
    qmrtest::writeFile(d.path() / "VELDA.INP", f.text());
    r = runArgs(d.path(), "--quiet " + bad);
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.err.find(why), std::string::npos) << bad << ": " << r.err;
    EXPECT_EQ(qmrtest::count(qmrtest::readFile(d.path() / "run.lst"),
                             "TIME STEP NUMBER"),
              0)
        << bad;
  }
  // A width of 0 stands for 1: no derivative.
  f.media[0].width = 0.0;
  Scratch w("params-width");
  qmrtest::writeFile(w.path() / "VELDA.INP", f.text());
  r = runArgs(w.path(), "--quiet --sensitivity media[1].width");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stands for 1"), std::string::npos) << r.err;
}

// A chain: the flow run writes the derivatives of its velocity records
// beside its velocity file, the transport run carries them through the
// velocities it reads. The central difference goes through the velocity
// file's printed digits (8 significant), so it is good to about 1e-4 of
// the derivative at a relative step of 1e-2 (five-point). Not so the
// advective divergence of the balance, a sum of differences between the
// printed velocities of neighbouring elements (1e-3 off and more), which is
// left out.
std::string chainFlow(int iodarc) {
  FlowDeck f;
  f.listing = "flow.lst";
  f.graphic = "flow.grf";
  f.ne = 10;
  f.xn = 100.0;
  f.nts = 5;
  f.delta1 = 2.0;
  f.codes.iodarc = iodarc;
  f.velocity = "FLOW.VEL";
  f.media = {{5.0, 1e-4, 0.1, 10.0, 1e-3, 0.0, 0.0, 2.0, 0.0}};
  f.values = {{1, 10.0}, {11, 8.0}};
  f.initial = 9.0;
  return f.text();
}

std::string chainTransport(int iodarc) {
  TransportDeck t;
  t.ne = 10;
  t.xn = 100.0;
  t.nts = 5;
  t.delta1 = 2.0;
  t.codes.iodarc = iodarc;
  t.velocity = "FLOW.VEL";
  t.media = {{5.0, 0.0, 0.3, 1.0, 0.0, 0.0, 0.0, 2.0}};
  t.values = {{1, 1.0}};
  t.observations = {3, 6};
  return t.text();
}

// The transport outputs with the flow run's conductivity set to k.
Outputs chainAt(int iodarc, double k, const std::string &sens = "") {
  Scratch dir("sens-chain");
  qmrtest::writeFile(dir.path() / "flow.inp", chainFlow(iodarc));
  qmrtest::writeFile(dir.path() / "trans.inp", chainTransport(iodarc));
  auto r =
      runArgs(dir.path(),
              "--quiet --set media[1].conductivity=" + qmrtest::digits17(k) +
                  (sens.empty() ? "" : " --sensitivity " + sens) + " flow.inp");
  EXPECT_EQ(r.status, 0) << r.err;
  r = runArgs(dir.path(),
              "--quiet --csv" +
                  (sens.empty() ? std::string()
                                : " --sensitivity flow." + sens +
                                      " --sensitivity-outputs "
                                      "observations,fluxes,balance") +
                  " trans.inp");
  EXPECT_EQ(r.status, 0) << r.err;
  Outputs o = outputs(dir.path());
  if (!sens.empty()) {
    const auto rows = readSens(qmrtest::readFile(dir.path() / "run.sens.csv"));
    EXPECT_EQ(rows.size(), o.v.size());
    for (std::size_t i = 0; i < rows.size() && i < o.v.size(); ++i)
      o.v[i] = rows[i].derivative; // the derivatives in place of the values
    const auto vel =
        qmrtest::lines(qmrtest::readFile(dir.path() / "FLOW.VEL.sens.csv"));
    EXPECT_EQ(vel.size(), 1u + 10u * (iodarc == 2 ? 5u : 1u));
  }
  return o;
}

TEST(Sensitivity, ChainCarriesFlowDerivativesThroughTheVelocityFile) {
  for (int iodarc : {1, 2}) {
    const double k = 5.0, h = 0.01 * k;
    const Outputs d = chainAt(iodarc, k, "media[1].conductivity");
    const Outputs p1 = chainAt(iodarc, k + h), m1 = chainAt(iodarc, k - h);
    const Outputs p2 = chainAt(iodarc, k + 2 * h);
    const Outputs m2 = chainAt(iodarc, k - 2 * h);
    double largest = 0.0;
    for (double x : d.v) largest = std::max(largest, std::fabs(x));
    ASSERT_GT(largest, 1e-3); // the plume depends on the conductivity
    for (std::size_t i = 0; i < d.v.size(); ++i) {
      // Per step: 2 observations, rate and amount at 1 node, 12 terms.
      if (i % 16 == 14) continue; // the advective divergence
      const double central =
          (8.0 * (p1.v[i] - m1.v[i]) - (p2.v[i] - m2.v[i])) / (12.0 * h);
      EXPECT_NEAR(d.v[i], central,
                  1e-4 * std::fabs(central) + 1e-7 * d.largest[i] / k)
          << "code " << iodarc << ", output " << i;
    }
  }
  // A transport run whose flow run gave no derivatives is refused.
  Scratch dir("sens-chain-none");
  qmrtest::writeFile(dir.path() / "flow.inp", chainFlow(1));
  qmrtest::writeFile(dir.path() / "trans.inp", chainTransport(1));
  ASSERT_EQ(runArgs(dir.path(), "--quiet flow.inp").status, 0);
  const auto r = runArgs(
      dir.path(), "--quiet --sensitivity flow.media[1].conductivity trans.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("run the flow run with --sensitivity first"),
            std::string::npos)
      << r.err;
}

} // namespace
