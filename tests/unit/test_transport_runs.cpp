// Whole transport runs checked against physics: the analytical solution of
// one-dimensional advection-dispersion from a constant-concentration inlet,
// bounds, retardation, decay and mass, and a flow run handing its velocities
// to transport runs through the velocity file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support.hpp"

namespace {

using qmrtest::col;
using qmrtest::Deck;
using qmrtest::lines;

// A number in a ten-column F10.0 field.
std::string f10(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6G", v);
  return col(std::string(buf), 10);
}

std::string i5(long v) { return col(v, 5); }

// One transport run on a uniform mesh from x = 0 with one medium and the
// time steps generated linearly.
struct Transport {
  int ne = 100;
  double len = 100.0;
  int nts = 100;
  double dt = 1.0;
  // Medium: dispersivity, diffusion, porosity, retardation, decay, width.
  double alfal = 1.0, difus = 0.0, poros = 0.25, retar = 1.0, decay = 0.0;
  double width = 2.0;
  // Default Darcy velocity (per unit width) and thickness, or a velocity
  // file when iodarc > 0.
  double q = 0.1, thick = 5.0;
  int iodarc = 0;
  // Inlet concentration at node 1 (none when inlet is false), the initial
  // concentration and single initial values.
  bool inlet = true;
  double c0 = 1.0, cinit = 0.0;
  std::vector<std::pair<int, double>> nonu;

  std::string deck() const {
    Deck d;
    d << "T OW"
      << "TRANS.LST"
      << "TRANS.GRA"
      << "transport run";
    d << i5(ne) + i5(nts) + i5(1) + i5(inlet ? 1 : 0) + i5(0) +
             i5(static_cast<long>(nonu.size())) + i5(0) + i5(0);
    d << i5(1) + i5(0) + i5(1) + i5(0) + i5(0) + i5(0) + i5(iodarc) + i5(1) +
             i5(0) + i5(0) + i5(1);
    if (iodarc > 0)
      d << "DARCY.VEL"
        << "velocity file of the flow run";
    d << f10(0.0) + f10(len) + f10(1.0); // uniform elements
    d << i5(1);                          // one zone from element 1
    d << f10(alfal) + f10(difus) + f10(poros) + f10(retar) + f10(decay) +
             f10(0.0) + f10(0.0) + f10(width);
    d << f10(0.0) + f10(dt) + i5(0); // linear steps
    if (inlet) d << i5(1) + i5(1) + f10(c0);
    d << f10(cinit);
    for (auto [node, value] : nonu) d << i5(node) + f10(value);
    if (iodarc <= 0) d << f10(q) + f10(thick);
    return d.text;
  }
};

// The concentration tables of the listing, one per step: (x, c) per node.
using Table = std::vector<std::pair<double, double>>;
std::vector<Table> tables(const std::string &listing) {
  std::vector<Table> out;
  const auto ls = lines(listing);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    if (ls[i] != " NODE     E-COORD   CONCENTRATION") continue;
    Table t;
    for (std::size_t k = i + 2; k < ls.size() && ls[k].size() == 34; ++k)
      t.emplace_back(std::stod(ls[k].substr(5, 12)),
                     std::stod(ls[k].substr(22, 12)));
    out.push_back(t);
  }
  return out;
}

// C/C0 at x and t for a constant concentration C0 held at x = 0 of a
// semi-infinite column initially free of solute, pore velocity v and
// dispersion coefficient d.
double ogataBanks(double x, double t, double v, double d) {
  const double s = 2.0 * std::sqrt(d * t);
  return 0.5 * (std::erfc((x - v * t) / s) +
                std::exp(v * x / d) * std::erfc((x + v * t) / s));
}

// Largest deviation of a step's table from the analytical solution at the
// given time, over the nodes up to xmax (the mesh ends in a free outflow,
// the analytical column never ends). Retardation divides both the velocity
// and the dispersion coefficient.
double deviation(const Table &t, double time, const Transport &tr,
                 double xmax) {
  const double v = tr.q * tr.width / (tr.poros * tr.width); // q / n
  const double d = tr.alfal * std::fabs(v) + tr.difus;
  double worst = 0.0;
  for (auto [x, c] : t)
    if (x <= xmax)
      worst = std::max(worst, std::fabs(c - ogataBanks(x, time, v / tr.retar,
                                                       d / tr.retar)));
  return worst;
}

// Solute in the aquifer per unit of n R b: the integral of the linear
// concentration over the mesh.
double mass(const Table &t) {
  double m = 0.0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i)
    m += (t[i + 1].first - t[i].first) * (t[i].second + t[i + 1].second) * 0.5;
  return m;
}

std::vector<Table> runTables(const std::string &tag, const Transport &tr) {
  auto r = qmrtest::runDeck(tag, tr.deck());
  EXPECT_EQ(r.status, 0) << r.err;
  auto t = tables(r.file("TRANS.LST"));
  EXPECT_EQ(t.size(), static_cast<std::size_t>(tr.nts));
  for (const auto &step : t)
    EXPECT_EQ(step.size(), static_cast<std::size_t>(tr.ne + 1));
  return t;
}

// The default case: q = 0.1 on a width of 2 through a porosity of 0.25 gives
// v = 0.4; alpha = 1 gives D = 0.4; elements of length 1 make the grid
// Peclet number v dx / D = 1 and steps of 1 the Courant number 0.4.
//
// Tolerance: the scheme (linear elements, centred in time after a fully
// implicit first step) is second order in dx and dt; at this resolution its
// error, largest while the front is still steep, stays near 0.0025 C0 from
// step 10 (front spread sqrt(2Dt) = 2.8 elements) and falls to 0.0005 C0 by
// step 100. We allow 0.005 C0 from step 10 and 0.001 C0 at the last step;
// a front displaced by one element would deviate by about 0.04 C0.
TEST(TransportRuns, ConstantInletFollowsTheAnalyticalSolution) {
  Transport tr;
  const auto steps = runTables("ogata", tr);
  ASSERT_EQ(steps.size(), 100u);
  for (int k = 10; k <= 100; ++k)
    EXPECT_LE(deviation(steps[k - 1], k * tr.dt, tr, 80.0), 0.005) << k;
  EXPECT_LE(deviation(steps[99], 100.0, tr, 100.0), 0.001);
  // The front has reached x = vt = 40 at t = 100: C/C0 there is just
  // above one half (0.5 + the inlet term).
  EXPECT_NEAR(steps[99][40].second, ogataBanks(40.0, 100.0, 0.4, 0.4), 0.001);
  EXPECT_GT(steps[99][40].second, 0.5);
}

TEST(TransportRuns, ErrorFallsWithTheSquareOfTheResolution) {
  // Halving dx and dt together: a second-order scheme divides the deviation
  // by about 4; we require at least 3. This shows that the deviation left
  // above is discretisation error, not a wrong coefficient.
  Transport coarse;
  coarse.ne = 50;
  coarse.len = 50.0;
  coarse.nts = 20;
  Transport fine = coarse;
  fine.ne = 100;
  fine.dt = 0.5;
  fine.nts = 40;
  const auto a = runTables("coarse", coarse);
  const auto b = runTables("fine", fine);
  ASSERT_EQ(a.size(), 20u);
  ASSERT_EQ(b.size(), 40u);
  for (int time : {10, 20}) {
    const double ea = deviation(a[time - 1], time, coarse, 40.0);
    const double eb = deviation(b[2 * time - 1], time, fine, 40.0);
    EXPECT_GT(ea, 0.0);
    EXPECT_LT(eb * 3.0, ea) << time;
  }
}

TEST(TransportRuns, ConcentrationsStayBetweenInitialAndInletValues) {
  // Grid Peclet numbers 1 and 2 (alpha = 1 and 0.5 on elements of length
  // 1), inlet 1 into a column at 0, and inlet 2 into a column at 0.5.
  for (auto [alfal, c0, cinit] :
       std::vector<std::tuple<double, double, double>>{
           {1.0, 1.0, 0.0}, {0.5, 1.0, 0.0}, {0.5, 2.0, 0.5}}) {
    Transport tr;
    tr.ne = 60;
    tr.len = 60.0;
    tr.nts = 60;
    tr.alfal = alfal;
    tr.c0 = c0;
    tr.cinit = cinit;
    const auto steps = runTables("bounds", tr);
    for (std::size_t k = 0; k < steps.size(); ++k)
      for (auto [x, c] : steps[k]) {
        EXPECT_GE(c, cinit)
            << "alpha " << alfal << " step " << k + 1 << " x " << x;
        EXPECT_LE(c, c0) << "alpha " << alfal << " step " << k + 1 << " x "
                         << x;
      }
  }
}

TEST(TransportRuns, RetardationSlowsTheFrontByItsFactor) {
  // R = 2 with steps of 2: the retarded front at time 2t is the unretarded
  // front at time t, node by node (the whole system is scaled by 2).
  Transport plain;
  plain.ne = 60;
  plain.len = 60.0;
  plain.nts = 50;
  Transport slow = plain;
  slow.retar = 2.0;
  slow.dt = 2.0;
  const auto a = runTables("plain", plain);
  const auto b = runTables("retarded", slow);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t k = 0; k < a.size(); ++k)
    for (std::size_t i = 0; i < a[k].size(); ++i)
      EXPECT_EQ(a[k][i].second, b[k][i].second) << k << " " << i;
  // And against the analytical solution with v / R and D / R.
  for (int k = 10; k <= 50; ++k)
    EXPECT_LE(deviation(b[k - 1], k * slow.dt, slow, 50.0), 0.005) << k;
  // At t = 100 the retarded front stands at x = vt / R = 20.
  EXPECT_NEAR(b[49][20].second, ogataBanks(20.0, 100.0, 0.2, 0.2), 0.002);
}

// A closed column (no inlet, no flow) with diffusion only, everywhere 1 and
// 5 at node 26: 50 + 4 units of solute per unit of n R b.
Transport closedColumn() {
  Transport tr;
  tr.ne = 50;
  tr.len = 50.0;
  tr.nts = 50;
  tr.inlet = false;
  tr.q = 0.0;
  tr.difus = 0.5;
  tr.cinit = 1.0;
  tr.nonu = {{26, 5.0}};
  return tr;
}

TEST(TransportRuns, SoluteMassIsKeptWithoutDecay) {
  const auto steps = runTables("nodecay", closedColumn());
  ASSERT_EQ(steps.size(), 50u);
  // The peak spreads, the mass stays. Each printed value is rounded to 5
  // significant digits (at most 5E-5 relative), and so is their sum.
  EXPECT_LT(steps[49][25].second, 2.0);
  for (const auto &t : steps) EXPECT_NEAR(mass(t), 54.0, 54.0 * 5e-5);
}

TEST(TransportRuns, SoluteMassDecaysExponentially) {
  // lambda = 0.01 over steps of 1: M(t) = M0 exp(-lambda t). The fully
  // implicit first step errs by (lambda dt)^2 / 2 = 5E-5, each centred step
  // by (lambda dt)^3 / 12; with printing, 2E-4 relative is ample, while a
  // decay applied at a wrong rate by 1 % would miss by 5E-3 at t = 50.
  Transport tr = closedColumn();
  tr.decay = 0.01;
  const auto steps = runTables("decay", tr);
  ASSERT_EQ(steps.size(), 50u);
  for (int k = 1; k <= 50; ++k) {
    const double want = 54.0 * std::exp(-0.01 * k);
    EXPECT_NEAR(mass(steps[k - 1]), want, want * 2e-4) << k;
  }
  // With retardation the sorbed solute decays too: the same decay of the
  // concentrations whatever R (storage and decay both scale with R).
  tr.retar = 3.0;
  const auto r3 = runTables("decayR", tr);
  ASSERT_EQ(r3.size(), 50u);
  for (int k = 1; k <= 50; ++k)
    EXPECT_NEAR(mass(r3[k - 1]), 54.0 * std::exp(-0.01 * k),
                54.0 * std::exp(-0.01 * k) * 2e-4)
        << k;
}

// A confined flow run on the same 50 elements: conductivity 0.4, width 2,
// thickness 5, heads held at 100 and 87.5 and starting on the straight line
// between them, so the flow is steady with q w = 0.4 x 2 x 0.25 = 0.2, the
// default velocity 0.1 of the transport deck times its width 2.
std::string flowDeck(int iodarc, int nts) {
  Deck d;
  d << "F OW"
    << "FLOW.LST"
    << "FLOW.GRA"
    << "flow run";
  d << i5(50) + i5(nts) + i5(1) + i5(2) + i5(0) + i5(51) + i5(0) + i5(0);
  d << i5(1) + i5(0) + i5(1) + i5(0) + i5(0) + i5(0) + i5(iodarc) + i5(1) +
           i5(0) + i5(0) + i5(1);
  d << "DARCY.VEL"
    << "velocity file";
  d << f10(0.0) + f10(50.0) + f10(1.0);
  d << i5(1);
  d << f10(0.4) + f10(0.0) + f10(0.001) + f10(5.0) + f10(0.0) + f10(0.0) +
           f10(0.0) + f10(2.0) + f10(0.0);
  d << f10(0.0) + f10(1.0) + i5(0);
  d << i5(1) + i5(1) + f10(100.0);
  d << i5(51) + i5(1) + f10(87.5);
  d << f10(100.0);
  for (int ip = 1; ip <= 51; ++ip) d << i5(ip) + f10(100.0 - 0.25 * (ip - 1));
  return d.text;
}

TEST(TransportRuns, VelocitiesFromAFlowRunMatchTheDefaultVelocity) {
  Transport byDefault;
  byDefault.ne = 50;
  byDefault.len = 50.0;
  byDefault.nts = 20;
  const auto want = runTables("chain-default", byDefault);
  ASSERT_EQ(want.size(), 20u);

  for (int iodarc : {1, 2}) {
    const auto dir = qmrtest::scratch("chain");
    auto flow = qmrtest::runDeckIn(dir, flowDeck(iodarc, 20));
    ASSERT_EQ(flow.status, 0) << flow.err;
    // One block at the last step, or one per step.
    const auto recs = lines(flow.file("DARCY.VEL"));
    ASSERT_EQ(recs.size(), iodarc == 1 ? 50u : 1000u);
    for (const auto &rec : recs) {
      EXPECT_NEAR(std::stod(rec.substr(5, 15)), 0.2, 1e-7) << rec;
      EXPECT_NEAR(std::stod(rec.substr(20, 15)), 5.0, 1e-7) << rec;
    }

    Transport fromFile = byDefault;
    fromFile.iodarc = iodarc;
    auto tr = qmrtest::runDeckIn(dir, fromFile.deck());
    ASSERT_EQ(tr.status, 0) << tr.err;
    const auto got = tables(tr.file("TRANS.LST"));
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k)
      for (std::size_t i = 0; i < got[k].size(); ++i)
        EXPECT_NEAR(got[k][i].second, want[k][i].second, 1e-9)
            << "iodarc " << iodarc << " step " << k + 1 << " node " << i + 1;
    EXPECT_EQ(tr.file("TRANS.LST").find("PROBLEMS"), std::string::npos);
  }
}

} // namespace
