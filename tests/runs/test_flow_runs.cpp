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

#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmrtest::FlowDeck;
using qmrtest::lines;

// A steady flow run on ten elements of 10 from x = 0 with one medium:
// conductivity 5, thickness 2; a flux file.
FlowDeck flow() {
  FlowDeck f;
  f.listing = "FLOW.LST";
  f.graphic = "FLOW.GRA";
  f.flux = "FLOW.FLX";
  f.title = "flow run";
  f.codes.isstat = 1;
  f.media = {{5.0, 0.0, 0.0, 2.0}};
  return f;
}

// The same, transient: steps of dt from 0.
FlowDeck transient(int nts, double dt) {
  FlowDeck f = flow();
  f.codes.isstat = 0;
  f.nts = nts;
  f.delta1 = dt;
  return f;
}

qmrtest::Run runIn(const std::filesystem::path &dir, const FlowDeck &f) {
  auto r = qmrtest::runDeckIn(dir, f.text());
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
  FlowDeck f = flow();
  f.media[0].rech = 0.01;
  f.values = {{1, 20.0}, {11, 10.0}};
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
  FlowDeck f = transient(5, 2.0);
  f.media[0].ss = 0.01;
  f.media[0].sc = 0.1;
  f.media[0].rech = 0.001;
  f.media[0].leak = 0.0005;
  f.media[0].hfix = 15.0;
  f.media[0].width = 3.0;
  f.values = {{1, 20.0}};
  f.fluxes = {{11, -0.05}};
  f.initial = 10.0;
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
  FlowDeck f = transient(2, 1.0);
  f.codes.ikall = 1;
  f.media[0].sc = 0.1;
  f.values = {{1, 20.0}};
  f.initial = 10.0;

  const auto dir = qmrtest::scratch("flow-restart");
  FlowDeck first = f;
  first.restartOut = "FIRST.RST";
  runIn(dir, first);
  FlowDeck second = f;
  second.tima = 2.0;
  second.restartIn = "FIRST.RST";
  second.restartOut = "SECOND.RST";
  auto r2 = runIn(dir, second);
  FlowDeck whole = f;
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
