// Whole flow runs checked against physics: the steady recharge parabola,
// the flux balance at the fixed heads, the mass balance of every step of a
// transient run, and a restart file carrying the heads into the next run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "run/run.hpp"
#include "support.hpp"

namespace {

using qmrtest::col;
using qmrtest::Deck;
using qmrtest::lines;

std::string f10(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6G", v);
  return col(std::string(buf), 10);
}

std::string i5(long v) { return col(v, 5); }

// One flow run on a uniform mesh from x = 0 with one medium.
struct Flow {
  int ne = 10;
  double len = 100.0;
  bool steady = true;
  int nts = 1;
  double tima = 0.0, dt = 1.0;
  int ikall = 0;
  // Conductivity, specific storage, storage coefficient, thickness,
  // recharge, leakage coefficient, fixed head beyond the aquitard, width.
  double k = 5.0, ss = 0.0, sc = 0.0, thick = 2.0, rech = 0.0, leak = 0.0,
         hfix = 0.0, width = 1.0;
  std::vector<std::pair<int, double>> heads, fluxes;
  double hinit = 0.0;
  std::string restartIn, restartOut; // restart files, when named

  std::string deck() const {
    Deck d;
    d << "F"
      << "FLOW.LST"
      << "FLOW.GRA"
      << "FLOW.FLX"
      << "flow run";
    d << i5(ne) + i5(nts) + i5(1) + i5(static_cast<long>(heads.size())) +
             i5(static_cast<long>(fluxes.size())) + i5(0) + i5(0) + i5(0);
    d << i5(1) + i5(0) + i5(1) + i5(ikall) + i5(restartIn.empty() ? 0 : 1) +
             i5(restartOut.empty() ? 0 : 1) + i5(0) + i5(1) + i5(0) +
             i5(steady ? 1 : 0) + i5(1);
    if (!restartIn.empty()) d << restartIn << "restart file to read";
    if (!restartOut.empty()) d << restartOut << "restart file to write";
    d << f10(0.0) + f10(len) + f10(1.0); // uniform elements
    d << i5(1);                          // one zone from element 1
    d << f10(k) + f10(ss) + f10(sc) + f10(thick) + f10(rech) + f10(leak) +
             f10(hfix) + f10(width);
    if (!steady) d << f10(tima) + f10(dt) + i5(0); // linear steps
    for (auto [node, h] : heads) d << i5(node) + i5(1) + f10(h);
    for (auto [node, q] : fluxes) d << i5(node) + i5(1) + f10(q);
    if (restartIn.empty()) d << f10(hinit);
    return d.text;
  }
};

qmrtest::Run runIn(const std::filesystem::path &dir, const Flow &f) {
  auto r = qmrtest::runDeckIn(dir, f.deck());
  EXPECT_EQ(r.status, qmr::kExitNormal) << r.err << r.file("FLOW.LST");
  return r;
}

// The final heads of a restart file, node by node.
std::vector<double> restartHeads(const std::string &text) {
  std::vector<double> h;
  for (const auto &l : lines(text)) h.push_back(std::stod(l.substr(20, 15)));
  return h;
}

// Every step's flux table: the reaction over the step per prescribed node.
std::vector<std::vector<double>> reactions(const std::string &listing) {
  std::vector<std::vector<double>> out;
  const auto ls = lines(listing);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    if (ls[i].rfind("  ----   ---------------", 0) != 0) continue;
    std::vector<double> q;
    for (std::size_t k = i + 2; k < ls.size() && ls[k].size() == 78; ++k)
      q.push_back(std::stod(ls[k].substr(24, 18)));
    out.push_back(q);
  }
  return out;
}

// Every step's mass balance: the six terms in the order printed.
std::vector<std::vector<double>> balances(const std::string &listing) {
  std::vector<std::vector<double>> out;
  const auto ls = lines(listing);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    if (ls[i] != "           MASS BALANCE COMPUTATION") continue;
    std::vector<double> b;
    for (std::size_t k : {3, 4, 5, 6, 7, 9})
      b.push_back(std::stod(ls[i + k].substr(53)));
    out.push_back(b);
  }
  return out;
}

TEST(FlowRuns, SteadyRechargeParabolaAndFluxBalance) {
  // h = 20 - 0.1 x + q / (2 T) x (100 - x), T = 5 x 2, q = 0.01.
  Flow f;
  f.rech = 0.01;
  f.heads = {{1, 20.0}, {11, 10.0}};
  f.restartOut = "HEADS.RST";
  auto r = runIn(qmrtest::scratch("flow-steady"), f);
  auto h = restartHeads(r.file("HEADS.RST"));
  ASSERT_EQ(h.size(), 11u);
  for (int i = 0; i <= 10; ++i) {
    const double x = 10.0 * i;
    EXPECT_NEAR(h[i], 20.0 - 0.1 * x + 0.0005 * x * (100.0 - x), 1e-5) << x;
  }
  // -T dh/dx is 0.5 at x = 0 (entering) and 1.5 at x = 100 (leaving): the
  // outflow is the inflow plus the recharge of 1.
  auto q = reactions(r.file("FLOW.LST"));
  ASSERT_EQ(q.size(), 1u);
  ASSERT_EQ(q[0].size(), 2u);
  EXPECT_NEAR(q[0][0], 0.5, 1e-5);
  EXPECT_NEAR(q[0][1], -1.5, 1e-5);
  auto b = balances(r.file("FLOW.LST"));
  ASSERT_EQ(b.size(), 1u);
  EXPECT_NEAR(b[0][2], 1.0, 1e-12); // recharge
  EXPECT_EQ(b[0][4], 0.0);          // no storage in a steady run
  EXPECT_NEAR(q[0][0] + b[0][2] + q[0][1], 0.0, 1e-5);
  EXPECT_NEAR(b[0][5], 0.0, 1e-9);
}

TEST(FlowRuns, TransientMassBalanceOfEveryStep) {
  Flow f;
  f.steady = false;
  f.nts = 5;
  f.dt = 2.0;
  f.ss = 0.01;
  f.sc = 0.1;
  f.rech = 0.001;
  f.leak = 0.0005;
  f.hfix = 15.0;
  f.width = 3.0;
  f.heads = {{1, 20.0}};
  f.fluxes = {{11, -0.05}};
  f.hinit = 10.0;
  auto r = runIn(qmrtest::scratch("flow-balance"), f);
  auto b = balances(r.file("FLOW.LST"));
  ASSERT_EQ(b.size(), 5u);
  for (const auto &step : b) {
    double largest = 0.0;
    for (int k = 0; k < 5; ++k) largest = std::max(largest, std::fabs(step[k]));
    EXPECT_GT(largest, 1.0);
    EXPECT_GT(std::fabs(step[4]), 0.1); // the storage takes part
    EXPECT_NEAR(step[1], -0.1, 1e-12);  // -0.05 over a step of 2
    EXPECT_LE(std::fabs(step[5]), 1e-9 * largest);
  }
}

TEST(FlowRuns, RestartContinuesTheHeads) {
  // Two implicit steps, a restart, two more: the same heads as four steps
  // in one run.
  Flow f;
  f.steady = false;
  f.ikall = 1;
  f.sc = 0.1;
  f.heads = {{1, 20.0}};
  f.hinit = 10.0;

  const auto dir = qmrtest::scratch("flow-restart");
  Flow first = f;
  first.nts = 2;
  first.restartOut = "FIRST.RST";
  runIn(dir, first);
  Flow second = f;
  second.nts = 2;
  second.tima = 2.0;
  second.restartIn = "FIRST.RST";
  second.restartOut = "SECOND.RST";
  auto r2 = runIn(dir, second);
  Flow whole = f;
  whole.nts = 4;
  whole.restartOut = "WHOLE.RST";
  auto r4 = runIn(qmrtest::scratch("flow-whole"), whole);

  auto h2 = restartHeads(r2.file("SECOND.RST"));
  auto h4 = restartHeads(r4.file("WHOLE.RST"));
  ASSERT_EQ(h2.size(), 11u);
  ASSERT_EQ(h4.size(), 11u);
  EXPECT_GT(h4[1], 10.1); // the heads did move
  for (int i = 0; i <= 10; ++i) EXPECT_NEAR(h2[i], h4[i], 1e-5) << i;
}

} // namespace
