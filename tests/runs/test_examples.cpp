// The example decks of examples/ run through the program, each checked for a
// normal end and for the physics its note describes: the valley's mass
// balance, the pumping test's drawdown against the Theis solution, the chain's
// concentrations bounded by the inlet and initial values, and the plume's
// retarded, decaying front against the analytical solution.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

using qmrtest::lines;
using qmrtest::readFile;

const std::string kExamples = QMR_SOURCE_DIR "/examples/";

// Runs the decks of an example in turn in one scratch folder; every run must
// end normally with the completion message in its listing.
qmrtest::Run runExample(const std::string &name,
                        const std::vector<std::string> &decks,
                        const std::vector<std::string> &listings) {
  const std::filesystem::path dir = qmrtest::scratch("example-" + name);
  qmrtest::Run r;
  for (std::size_t k = 0; k < decks.size(); ++k) {
    const std::string deck = readFile(kExamples + name + "/" + decks[k]);
    EXPECT_FALSE(deck.empty()) << decks[k];
    r = qmrtest::runDeckIn(dir, deck);
    EXPECT_EQ(r.status, 0) << decks[k] << ": " << r.err;
    EXPECT_NE(r.file(listings[k])
                  .find(" QMR - Quenmoor Model - SUCCESSFUL TERMINATION"),
              std::string::npos)
        << listings[k];
  }
  return r;
}

TEST(Examples, ValleyBalancesItsWaterAtEveryStep) {
  const qmrtest::Run r = runExample("valley", {"VELDA.INP"}, {"valley.lst"});
  const std::string lst = r.file("valley.lst");
  const auto b = qmrtest::balances(lst);
  ASSERT_EQ(b.size(), 41u);
  for (std::size_t k = 0; k < b.size(); ++k) {
    const double terms = std::abs(b[k].heads) + std::abs(b[k].fluxes) +
                         std::abs(b[k].recharge) + std::abs(b[k].leakage) +
                         std::abs(b[k].storage);
    // The leakage cap makes every step iterate to a tolerance of 0.1 % of
    // the heads; what is left of the balance stays well below 1 %.
    EXPECT_LT(std::abs(b[k].outOfBalance), 0.01 * terms) << "step " << k + 1;
  }
  // At the steady state the balance closes to round-off.
  EXPECT_LT(std::abs(b.back().outOfBalance),
            1.0E-5 * std::abs(b.back().recharge));
  // Recharge 1.0E-4 m/d on a valley floor of 5 km × 800 m + 5 km × 900 m
  // (widths 400 -> 1200 -> 600 m): 850 m3/d over the last step,
  // 1000 - 794.33 days.
  const double lastStep = 1000.0 - std::pow(10.0, 2.9);
  EXPECT_NEAR(b.back().recharge / lastStep, 850.0, 0.5);
  // The first step (0.1 d): the drawn-down aquifer takes the capped leakage
  // everywhere, at most 2.0E-4 m/d × 8.5 km².
  EXPECT_LE(b.front().leakage / 0.1, 1700.0 * (1.0 + 1.0E-6));
  EXPECT_GT(b.front().leakage / 0.1, 0.95 * 1700.0);
}

// The exponential integral W(u) of the Theis solution, by its series.
double wellFunction(double u) {
  double w = -std::numbers::egamma - std::log(u);
  double term = 1.0;
  for (int k = 1; k < 60; ++k) {
    term *= -u / k;
    w -= term / k;
  }
  return w;
}

TEST(Examples, PumpingDrawdownFollowsTheis) {
  const qmrtest::Run r = runExample("pumping", {"VELDA.INP"}, {"pumping.lst"});
  const auto g = qmrtest::readGraphic(r.file("pumping.grf"));
  ASSERT_EQ(g.obs.size(), 41u);
  // Heads at 0.1, 1, 10, 100 and 1000 m (values 0-4 of a row, after time
  // and logarithm): the drawdown grows with time and falls with distance.
  for (std::size_t k = 0; k < g.obs.size(); ++k) {
    ASSERT_EQ(g.obs[k].v.size(), 7u);
    for (int j = 2; j < 6; ++j)
      EXPECT_LE(g.obs[k].v[j], g.obs[k].v[j + 1]) << "step " << k + 1;
    if (k == 0) continue;
    for (int j = 2; j < 7; ++j)
      EXPECT_LE(g.obs[k].v[j], g.obs[k - 1].v[j]) << "step " << k + 1;
  }
  for (int j = 2; j < 7; ++j) EXPECT_LT(g.obs.back().v[j], g.obs.front().v[j]);

  // After one day, against s = Q/(4 pi T) W(r^2 S / (4 T t)) with
  // Q = 1000 m3/d, T = 20 m/d × 25 m, S = 8E-6 1/m × 25 m.
  const auto heads = qmrtest::nodalTables(r.file("pumping.lst"));
  ASSERT_EQ(heads.size(), 41u);
  ASSERT_EQ(heads.back().h.size(), 61u);
  const double q = 1000.0, t = 500.0, s = 2.0E-4;
  const int nodes[] = {1, 13, 25, 37, 49};
  const double radii[] = {0.1, 1.0, 10.0, 100.0, 1000.0};
  for (int k = 0; k < 5; ++k) {
    const double theis =
        q / (4.0 * std::numbers::pi * t) *
        wellFunction(radii[k] * radii[k] * s / (4.0 * t * 1.0));
    const double drawdown = 50.0 - heads.back().h[nodes[k] - 1];
    EXPECT_NEAR(drawdown, theis, 0.05 * theis) << "r = " << radii[k];
  }
}

TEST(Examples, ChainConcentrationsStayWithinInletAndInitialValues) {
  const qmrtest::Run r = runExample("chain", {"deck1.inp", "deck2.inp"},
                                    {"flow.lst", "transport.lst"});
  // One block of 40 element records per step of the flow run.
  EXPECT_EQ(lines(r.file("chain.vel")).size(), 50u * 40u);
  const auto conc = qmrtest::nodalTables(r.file("transport.lst"));
  ASSERT_EQ(conc.size(), 50u);
  for (std::size_t k = 0; k < conc.size(); ++k) {
    ASSERT_EQ(conc[k].h.size(), 41u) << "step " << k + 1;
    for (std::size_t ip = 0; ip < conc[k].h.size(); ++ip) {
      EXPECT_GE(conc[k].h[ip], -1.0E-6)
          << "step " << k + 1 << " node " << ip + 1;
      EXPECT_LE(conc[k].h[ip], 100.0 + 1.0E-6)
          << "step " << k + 1 << " node " << ip + 1;
    }
  }
  // Behind the front the river water (the flow run's inflow at node 1) is
  // mixed with the clean recharge of the first 400 m (2E-4 m/d × 300 m).
  // The last flux line of node 1 (held at 12 m) gives the river's rate.
  double river = 0.0;
  for (const auto &table : qmrtest::fluxTables(r.file("flow.lst")))
    for (const auto &line : table)
      if (line.node == 1 && line.head == 12.0) river = line.rate;
  ASSERT_GT(river, 0.0);
  EXPECT_NEAR(conc.back().h[8], 100.0 * river / (river + 0.06 * 400.0), 0.5);
}

// Concentration of the advection-dispersion equation with retardation R and
// first-order decay lambda of dissolved and sorbed solute, for c0 held at
// x = 0 from t = 0 in an aquifer free of solute.
double plume(double x, double t, double v, double d, double r, double lambda,
             double c0) {
  const double u = v * std::sqrt(1.0 + 4.0 * d * r * lambda / (v * v));
  const double root = 2.0 * std::sqrt(d * r * t);
  double c = 0.5 * std::exp(x * (v - u) / (2.0 * d)) *
             std::erfc((r * x - u * t) / root);
  const double z = (r * x + u * t) / root;
  if (z < 25.0) c += 0.5 * std::exp(x * (v + u) / (2.0 * d)) * std::erfc(z);
  return c0 * c;
}

TEST(Examples, PlumeFrontIsRetardedAndDecays) {
  const qmrtest::Run r = runExample("plume", {"VELDA.INP"}, {"plume.lst"});
  const auto g = qmrtest::readGraphic(r.file("plume.grf"));
  ASSERT_EQ(g.prof.size(), 101u);
  ASSERT_EQ(g.obs.size(), 100u);
  // Darcy velocity 0.1 m/d, porosity 0.25, dispersivity 10 m, R = 2,
  // decay 5E-4 1/d; profiles after 500, 1000, 1500 and 2000 days.
  const double v = 0.4, d = 4.0, rf = 2.0, lambda = 5.0E-4;
  const double times[] = {500.0, 1000.0, 1500.0, 2000.0};
  for (const auto &row : g.prof) {
    ASSERT_EQ(row.v.size(), 6u);
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(row.v[2 + k],
                  plume(row.v[0], times[k], v, d, rf, lambda, 100.0), 0.3)
          << "x = " << row.v[0] << ", t = " << times[k];
  }
  // The water that left the source at time 0 is at 800 m after 2000 days;
  // the retarded solute is not (node 81), and at 400 m (node 41) it has not
  // yet reached the long-term value 100 exp(x (v - u) / (2 d)) = 37.7.
  ASSERT_GE(g.obs.back().v.size(), 7u);
  EXPECT_EQ(g.obs.back().v[6], 0.0);
  EXPECT_GT(g.obs.back().v[4], 10.0);
  EXPECT_LT(g.obs.back().v[4], 37.0);
}

} // namespace
