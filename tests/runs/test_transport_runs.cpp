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

using qmrtest::lines;
using qmrtest::TransportDeck;

// One transport run on a uniform mesh of 100 elements of 1 from x = 0 with
// one medium (dispersivity 1, porosity 0.25, width 2), 100 steps of 1, the
// inlet held at 1 at node 1 and a default Darcy velocity of 0.1 in a
// thickness of 5.
TransportDeck column() {
  TransportDeck t;
  t.listing = "TRANS.LST";
  t.graphic = "TRANS.GRA";
  t.title = "transport run";
  t.ne = 100;
  t.nts = 100;
  t.media = {{1.0, 0.0, 0.25, 1.0, 0.0, 0.0, 0.0, 2.0}};
  t.values = {{1, 1.0}};
  t.darcy = 0.1;
  t.thick = 5.0;
  return t;
}

// The same on ne elements of 1 with nts steps.
TransportDeck column(int ne, int nts) {
  TransportDeck t = column();
  t.ne = ne;
  t.xn = ne;
  t.nts = nts;
  return t;
}

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
double deviation(const Table &t, double time, const TransportDeck &tr,
                 double xmax) {
  const auto &m = tr.media.at(0);
  const double v = tr.darcy * m.width / (m.poros * m.width); // q / n
  const double d = m.alfal * std::fabs(v) + m.difus;
  const double c0 = tr.values.at(0).second;
  double worst = 0.0;
  for (auto [x, c] : t)
    if (x <= xmax)
      worst = std::max(
          worst,
          std::fabs(c - c0 * ogataBanks(x, time, v / m.retar, d / m.retar)));
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

std::vector<Table> runTables(const std::string &tag, const TransportDeck &tr) {
  auto r = qmrtest::runDeck(tag, tr.text());
  EXPECT_EQ(r.status, 0) << r.err;
  auto t = tables(r.file("TRANS.LST"));
  EXPECT_EQ(t.size(), static_cast<std::size_t>(tr.nts));
  // A table cut short gives no tables at all: the callers check the count
  // before they index.
  for (const auto &step : t)
    if (step.size() != static_cast<std::size_t>(tr.ne + 1)) {
      ADD_FAILURE() << "a table of " << step.size() << " nodes";
      return {};
    }
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
  const TransportDeck tr = column();
  const auto steps = runTables("ogata", tr);
  ASSERT_EQ(steps.size(), 100u);
  for (int k = 10; k <= 100; ++k)
    EXPECT_LE(deviation(steps[k - 1], k * tr.delta1, tr, 80.0), 0.005) << k;
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
  const TransportDeck coarse = column(50, 20);
  TransportDeck fine = column(100, 40);
  fine.xn = 50.0;
  fine.delta1 = 0.5;
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
    TransportDeck tr = column(60, 60);
    tr.media[0].alfal = alfal;
    tr.values = {{1, c0}};
    tr.initial = cinit;
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
  const TransportDeck plain = column(60, 50);
  TransportDeck slow = plain;
  slow.media[0].retar = 2.0;
  slow.delta1 = 2.0;
  const auto a = runTables("plain", plain);
  const auto b = runTables("retarded", slow);
  ASSERT_EQ(a.size(), 50u);
  ASSERT_EQ(b.size(), 50u);
  for (std::size_t k = 0; k < a.size(); ++k) {
    ASSERT_EQ(a[k].size(), 61u) << k;
    ASSERT_EQ(b[k].size(), 61u) << k;
    for (std::size_t i = 0; i < a[k].size(); ++i)
      EXPECT_EQ(a[k][i].second, b[k][i].second) << k << " " << i;
  }
  // And against the analytical solution with v / R and D / R.
  for (int k = 10; k <= 50; ++k)
    EXPECT_LE(deviation(b[k - 1], k * slow.delta1, slow, 50.0), 0.005) << k;
  // At t = 100 the retarded front stands at x = vt / R = 20.
  EXPECT_NEAR(b[49][20].second, ogataBanks(20.0, 100.0, 0.2, 0.2), 0.002);
}

// A closed column (no inlet, no flow) with diffusion only, everywhere 1 and
// 5 at node 26: 50 + 4 units of solute per unit of n R b.
TransportDeck closedColumn() {
  TransportDeck tr = column(50, 50);
  tr.values.clear();
  tr.darcy = 0.0;
  tr.media[0].difus = 0.5;
  tr.initial = 1.0;
  tr.nonuniform = {{26, 5.0}};
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
  TransportDeck tr = closedColumn();
  tr.media[0].decay = 0.01;
  const auto steps = runTables("decay", tr);
  ASSERT_EQ(steps.size(), 50u);
  for (int k = 1; k <= 50; ++k) {
    const double want = 54.0 * std::exp(-0.01 * k);
    EXPECT_NEAR(mass(steps[k - 1]), want, want * 2e-4) << k;
  }
  // With retardation the sorbed solute decays too: the same decay of the
  // concentrations whatever R (storage and decay both scale with R).
  tr.media[0].retar = 3.0;
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
  qmrtest::FlowDeck f;
  f.listing = "FLOW.LST";
  f.graphic = "FLOW.GRA";
  f.title = "flow run";
  f.velocity = "DARCY.VEL";
  f.codes.iodarc = iodarc;
  f.ne = 50;
  f.xn = 50.0;
  f.nts = nts;
  f.media = {{0.4, 0.0, 0.001, 5.0, 0.0, 0.0, 0.0, 2.0}};
  f.values = {{1, 100.0}, {51, 87.5}};
  f.initial = 100.0;
  for (int ip = 1; ip <= 51; ++ip)
    f.nonuniform.emplace_back(ip, 100.0 - 0.25 * (ip - 1));
  return f.text();
}

TEST(TransportRuns, VelocitiesFromAFlowRunMatchTheDefaultVelocity) {
  const TransportDeck byDefault = column(50, 20);
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

    TransportDeck fromFile = byDefault;
    fromFile.velocity = "DARCY.VEL";
    fromFile.codes.iodarc = iodarc;
    auto tr = qmrtest::runDeckIn(dir, fromFile.text());
    ASSERT_EQ(tr.status, 0) << tr.err;
    const auto got = tables(tr.file("TRANS.LST"));
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      ASSERT_EQ(got[k].size(), want[k].size()) << k;
      for (std::size_t i = 0; i < got[k].size(); ++i)
        EXPECT_NEAR(got[k][i].second, want[k][i].second, 1e-9)
            << "iodarc " << iodarc << " step " << k + 1 << " node " << i + 1;
    }
    EXPECT_EQ(tr.file("TRANS.LST").find("PROBLEMS"), std::string::npos);
  }
}

} // namespace
