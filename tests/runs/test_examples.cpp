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

std::vector<std::string> tokens(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

double num(const std::string &t) { return std::strtod(t.c_str(), nullptr); }

// The rows of the two tables of a graphic file: the observation rows (step,
// time, log time, one value per observation node) and the profile rows (node,
// distance, log distance, one value per profile).
struct Graphic {
  std::vector<std::vector<double>> obs, prof;
};
Graphic graphic(const std::string &text) {
  Graphic g;
  bool inProfiles = false;
  for (const std::string &line : lines(text)) {
    if (line.find("1.NODE") != std::string::npos) inProfiles = true;
    std::vector<std::string> t = tokens(line);
    if (t.size() < 3 ||
        t[0].find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::vector<double> row;
    for (const std::string &s : t) row.push_back(num(s));
    (inProfiles ? g.prof : g.obs).push_back(row);
  }
  return g;
}

// The nodal tables of a listing: after every line holding `heading`, one
// value (the third column) per node.
std::vector<std::vector<double>> nodal(const std::string &listing,
                                       const std::string &heading, int np) {
  std::vector<std::vector<double>> out;
  const std::vector<std::string> ls = lines(listing);
  for (std::size_t k = 0; k < ls.size(); ++k) {
    if (ls[k].find(heading) == std::string::npos) continue;
    std::vector<double> values;
    for (std::size_t j = k + 2; j < ls.size() && j < k + 2 + np; ++j) {
      std::vector<std::string> t = tokens(ls[j]);
      if (t.size() == 3) values.push_back(num(t[2]));
    }
    EXPECT_EQ(static_cast<int>(values.size()), np) << "table at line " << k;
    out.push_back(values);
  }
  return out;
}

// The last field of every listing line that holds `label`.
std::vector<double> column(const std::string &listing,
                           const std::string &label) {
  std::vector<double> out;
  for (const std::string &line : lines(listing))
    if (line.find(label) != std::string::npos)
      out.push_back(num(tokens(line).back()));
  return out;
}

TEST(Examples, ValleyBalancesItsWaterAtEveryStep) {
  const qmrtest::Run r = runExample("valley", {"VELDA.INP"}, {"valley.lst"});
  const std::string lst = r.file("valley.lst");
  const auto head = column(lst, "FROM PRESCRIBED HEAD NODES");
  const auto flux = column(lst, "FROM PRESCRIBED FLUX NODES");
  const auto rech = column(lst, "FROM RECHARGE CONDITION");
  const auto leak = column(lst, "FROM AQUITARD LEAKAGE");
  const auto stor = column(lst, "HELD IN STORAGE");
  const auto off = column(lst, "MASS OUT OF BALANCE");
  ASSERT_EQ(off.size(), 41u);
  ASSERT_EQ(head.size(), 41u);
  for (std::size_t k = 0; k < off.size(); ++k) {
    const double terms = std::abs(head[k]) + std::abs(flux[k]) +
                         std::abs(rech[k]) + std::abs(leak[k]) +
                         std::abs(stor[k]);
    // The leakage cap makes every step iterate to a tolerance of 0.1 % of
    // the heads; what is left of the balance stays well below 1 %.
    EXPECT_LT(std::abs(off[k]), 0.01 * terms) << "step " << k + 1;
  }
  // At the steady state the balance closes to round-off.
  EXPECT_LT(std::abs(off.back()), 1.0E-5 * std::abs(rech.back()));
  // Recharge 1.0E-4 m/d on a valley floor of 5 km × 800 m + 5 km × 900 m
  // (widths 400 -> 1200 -> 600 m): 850 m3/d over the last step,
  // 1000 - 794.33 days.
  const double lastStep = 1000.0 - std::pow(10.0, 2.9);
  EXPECT_NEAR(rech.back() / lastStep, 850.0, 0.5);
  // The first step (0.1 d): the drawn-down aquifer takes the capped leakage
  // everywhere, at most 2.0E-4 m/d × 8.5 km².
  EXPECT_LE(leak.front() / 0.1, 1700.0 * (1.0 + 1.0E-6));
  EXPECT_GT(leak.front() / 0.1, 0.95 * 1700.0);
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
  const Graphic g = graphic(r.file("pumping.grf"));
  ASSERT_EQ(g.obs.size(), 41u);
  // Heads at 0.1, 1, 10, 100 and 1000 m: the drawdown grows with time and
  // falls with distance.
  for (std::size_t k = 0; k < g.obs.size(); ++k) {
    for (int j = 3; j < 7; ++j)
      EXPECT_LE(g.obs[k][j], g.obs[k][j + 1]) << "step " << k + 1;
    if (k == 0) continue;
    for (int j = 3; j < 8; ++j)
      EXPECT_LE(g.obs[k][j], g.obs[k - 1][j]) << "step " << k + 1;
  }
  for (int j = 3; j < 8; ++j) EXPECT_LT(g.obs.back()[j], g.obs.front()[j]);

  // After one day, against s = Q/(4 pi T) W(r^2 S / (4 T t)) with
  // Q = 1000 m3/d, T = 20 m/d × 25 m, S = 8E-6 1/m × 25 m.
  const auto heads =
      nodal(r.file("pumping.lst"), "E-COORD   HYDRAULIC HEAD", 61);
  ASSERT_EQ(heads.size(), 41u);
  const double q = 1000.0, t = 500.0, s = 2.0E-4;
  const int nodes[] = {1, 13, 25, 37, 49};
  const double radii[] = {0.1, 1.0, 10.0, 100.0, 1000.0};
  for (int k = 0; k < 5; ++k) {
    const double theis =
        q / (4.0 * std::numbers::pi * t) *
        wellFunction(radii[k] * radii[k] * s / (4.0 * t * 1.0));
    const double drawdown = 50.0 - heads.back()[nodes[k] - 1];
    EXPECT_NEAR(drawdown, theis, 0.05 * theis) << "r = " << radii[k];
  }
}

TEST(Examples, ChainConcentrationsStayWithinInletAndInitialValues) {
  const qmrtest::Run r = runExample("chain", {"deck1.inp", "deck2.inp"},
                                    {"flow.lst", "transport.lst"});
  // One block of 40 element records per step of the flow run.
  EXPECT_EQ(lines(r.file("chain.vel")).size(), 50u * 40u);
  const auto conc =
      nodal(r.file("transport.lst"), "E-COORD   CONCENTRATION", 41);
  ASSERT_EQ(conc.size(), 50u);
  for (std::size_t k = 0; k < conc.size(); ++k)
    for (std::size_t ip = 0; ip < conc[k].size(); ++ip) {
      EXPECT_GE(conc[k][ip], -1.0E-6) << "step " << k + 1 << " node " << ip + 1;
      EXPECT_LE(conc[k][ip], 100.0 + 1.0E-6)
          << "step " << k + 1 << " node " << ip + 1;
    }
  // Behind the front the river water (the flow run's inflow at node 1) is
  // mixed with the clean recharge of the first 400 m (2E-4 m/d × 300 m).
  // The last flux line of node 1 (held at 12 m) gives the river's rate.
  double river = 0.0;
  for (const std::string &line : lines(r.file("flow.lst"))) {
    std::vector<std::string> t = tokens(line);
    if (t.size() == 5 && t[0] == "1" && num(t[1]) == 12.0) river = num(t[3]);
  }
  ASSERT_GT(river, 0.0);
  EXPECT_NEAR(conc.back()[8], 100.0 * river / (river + 0.06 * 400.0), 0.5);
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
  const Graphic g = graphic(r.file("plume.grf"));
  ASSERT_EQ(g.prof.size(), 101u);
  ASSERT_EQ(g.obs.size(), 100u);
  // Darcy velocity 0.1 m/d, porosity 0.25, dispersivity 10 m, R = 2,
  // decay 5E-4 1/d; profiles after 500, 1000, 1500 and 2000 days.
  const double v = 0.4, d = 4.0, rf = 2.0, lambda = 5.0E-4;
  const double times[] = {500.0, 1000.0, 1500.0, 2000.0};
  for (const auto &row : g.prof)
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(row[3 + k], plume(row[1], times[k], v, d, rf, lambda, 100.0),
                  0.3)
          << "x = " << row[1] << ", t = " << times[k];
  // The water that left the source at time 0 is at 800 m after 2000 days;
  // the retarded solute is not (node 81), and at 400 m (node 41) it has not
  // yet reached the long-term value 100 exp(x (v - u) / (2 d)) = 37.7.
  EXPECT_EQ(g.obs.back()[7], 0.0);
  EXPECT_GT(g.obs.back()[5], 10.0);
  EXPECT_LT(g.obs.back()[5], 37.0);
}

} // namespace
