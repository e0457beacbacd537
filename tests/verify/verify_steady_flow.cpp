// Steady confined flow against closed-form solutions: recharge between two
// fixed heads (a parabola) and a leaky aquifer fed by a fixed head beyond
// its aquitard (a cosh profile).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "runs/run_args.hpp"
#include "verify_util.hpp"

namespace {

using namespace qmrverify;

// Recharge N (per unit area) on a confined aquifer of conductivity K,
// thickness b and width W between h1 at x = 0 and h2 at x = L:
//   h(x) = h1 + (h2 - h1) x / L + N / (2 K b) x (L - x).
// Linear elements with the recharge split equally between the two nodes of
// each element reproduce this parabola exactly at the nodes, on any mesh, and
// the reactions are the exact boundary fluxes -K b W h'(0) and K b W h'(L).
// So the only error left is the rounding of the printed values. The mesh is
// graded (factor 1.5) to show that the nodal exactness does not depend on
// uniform elements.
TEST(SteadyFlow, RechargeBetweenTwoFixedHeads) {
  const double len = 1000.0, k = 10.0, b = 20.0, w = 50.0, n = 0.001;
  const double h1 = 2.0, h2 = 1.0, grade = 1.5;
  const int ne = 20;
  auto exact = [&](double x) {
    return h1 + (h2 - h1) * x / len + n / (2.0 * k * b) * x * (len - x);
  };

  auto deck = verificationDeck<FlowDeck>("STEADY.LST", "STEADY.GRA");
  deck.ne = ne;
  deck.xn = len;
  deck.grading = grade;
  deck.codes.isstat = 1;
  deck.media = {{k, 0.0, 0.0, b, n, 0.0, 0.0, w}};
  deck.values = {{1, h1}, {ne + 1, h2}};
  deck.observations = {6, 11, 16};
  deck.profiles = {1}; // the (only) step
  const Scratch folder("v-recharge");
  const auto r = run(folder, deck.text(), "STEADY.LST");
  const auto g = readGraphic(r.file("STEADY.GRA"));
  const auto lst = r.file("STEADY.LST");

  // Node coordinates of the graded mesh: x_k = L (k / ne)^1.5.
  auto xnode = [&](int ip) {
    return len * std::pow(static_cast<double>(ip - 1) / ne, grade);
  };

  // Profile (four digits): only the rounding of the print.
  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(ne + 1));
  double worstProf = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip) {
    const double want = exact(xnode(ip));
    const double got = g.profile(0, ip);
    worstProf = std::max(worstProf, std::fabs(got - want) / printed4(want));
    EXPECT_NEAR(got, want, printed4(want)) << "node " << ip;
  }
  report("profile error / print tolerance", worstProf);

  // Observation row of the step.
  ASSERT_EQ(g.obs.size(), 1u);
  ASSERT_EQ(g.obs[0].v.size(), 5u);
  EXPECT_NEAR(g.obs[0].v[0], 1.0, 1e-12); // steady state: time 1
  for (int j = 0; j < 3; ++j) {
    const double want = exact(xnode(g.obsNodes.at(j)));
    EXPECT_NEAR(g.obs[0].v[2 + j], want, printed4(want));
  }

  // The listing has five digits: 5E-5 of the value.
  const auto t = nodalTables(lst);
  ASSERT_EQ(t.size(), 1u);
  ASSERT_EQ(t[0].h.size(), static_cast<std::size_t>(ne + 1));
  double worst = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip) {
    const double want = exact(xnode(ip));
    worst = std::max(worst, std::fabs(t[0].h[ip - 1] - want) / want);
    EXPECT_NEAR(t[0].h[ip - 1], want, 5e-5 * want) << "node " << ip;
  }
  report("listing head error (relative)", worst);

  // Fluxes: -K b W h'(0) enters at x = 0, K b W h'(L) at x = L (both
  // negative here: water leaves at both ends); together they carry off the
  // recharge N W L.
  const double tw = k * b * w;
  const double in0 = -tw * ((h2 - h1) / len + n * len / (2.0 * k * b));
  const double inL = tw * ((h2 - h1) / len - n * len / (2.0 * k * b));
  const auto f = fluxTables(lst);
  ASSERT_EQ(f.size(), 1u);
  ASSERT_EQ(f[0].size(), 2u);
  EXPECT_NEAR(f[0][0].rate, in0, 5e-5 * std::fabs(in0));
  EXPECT_NEAR(f[0][1].rate, inL, 5e-5 * std::fabs(inL));
  report("flux error at x = 0 (relative)",
         std::fabs(f[0][0].rate - in0) / std::fabs(in0));
  report("flux error at x = L (relative)",
         std::fabs(f[0][1].rate - inL) / std::fabs(inL));

  const auto bal = balances(lst);
  ASSERT_EQ(bal.size(), 1u);
  EXPECT_NEAR(bal[0].recharge, n * w * len, 5e-5 * n * w * len);
  EXPECT_EQ(bal[0].storage, 0.0);
  // Round-off only: the terms are about 50.
  checkBalances(lst, 1e-9, 1);
}

// A leaky aquifer (transmissivity T = K b per unit width) held at h0 at
// x = 0, closed at x = L, below an aquitard of leakage coefficient c' with a
// fixed head H beyond it:
//   T h'' + c' (H - h) = 0,
//   h(x) = H + (h0 - H) cosh((L - x) / lambda) / cosh(L / lambda),
// lambda = sqrt(T / c'). The inflow at x = 0 is
//   W T (h0 - H) tanh(L / lambda) / lambda,
// and it all leaves through the aquitard.
//
// Discretisation: with mu = (dx / lambda)^2, linear elements with the leakage
// distributed like a consistent mass give a discrete decay rate kappa with
// cosh(kappa dx) = (1 + mu / 3) / (1 - mu / 6), i.e. kappa lambda = 1 + mu / 24
// + O(mu^2). Here dx / lambda = 0.02, so the profile errs by at most
// (L / lambda) mu / 24 = 7E-5 of (h0 - H), and the inflow by mu / 24 = 2E-5
// relative; both are below the printed rounding, which sets the tolerance.
TEST(SteadyFlow, LeakyAquiferCoshProfile) {
  const double k = 5.0, b = 20.0, leak = 0.01, w = 10.0;
  const double lambda = std::sqrt(k * b / leak); // 100
  const double len = 4.0 * lambda;
  const int ne = 200;
  const double h0 = 10.0, hfix = 0.0;
  auto exact = [&](double x) {
    return hfix + (h0 - hfix) * std::cosh((len - x) / lambda) /
                      std::cosh(len / lambda);
  };

  auto deck = verificationDeck<FlowDeck>("LEAKY.LST", "LEAKY.GRA");
  deck.ne = ne;
  deck.xn = len;
  deck.codes.isstat = 1;
  deck.media = {{k, 0.0, 0.0, b, 0.0, leak, hfix, w}};
  deck.values = {{1, h0}};
  deck.initial = 5.0; // any value: the run is steady
  deck.observations = {26, 51, 101, 201};
  deck.profiles = {1};
  const Scratch folder("v-leaky");
  const auto r = run(folder, deck.text(), "LEAKY.LST");
  const auto g = readGraphic(r.file("LEAKY.GRA"));
  const auto lst = r.file("LEAKY.LST");
  const double dx = len / ne;
  const double mu = (dx / lambda) * (dx / lambda);
  const double discret = (len / lambda) * mu / 24.0 * (h0 - hfix);

  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(ne + 1));
  double worst = 0.0, worstRel = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip) {
    const double x = dx * (ip - 1);
    const double want = exact(x);
    const double got = g.profile(0, ip);
    const double tol = printed4(want) + discret;
    worst = std::max(worst, std::fabs(got - want));
    worstRel = std::max(worstRel, std::fabs(got - want) / tol);
    EXPECT_NEAR(got, want, tol) << "x " << x;
  }
  report("profile error (absolute)", worst);
  report("profile error / tolerance", worstRel);
  ASSERT_EQ(g.obs.size(), 1u);
  for (std::size_t j = 0; j < g.obsNodes.size(); ++j) {
    const double want = exact(dx * (g.obsNodes[j] - 1));
    EXPECT_NEAR(g.obs[0].v.at(2 + j), want, printed4(want) + discret);
  }

  const double inflow =
      w * k * b * (h0 - hfix) * std::tanh(len / lambda) / lambda;
  const auto f = fluxTables(lst);
  ASSERT_EQ(f.size(), 1u);
  ASSERT_EQ(f[0].size(), 1u);
  const double err = std::fabs(f[0][0].rate - inflow) / inflow;
  report("inflow error (relative)", err);
  EXPECT_LE(err, mu / 24.0 * 2.0 + 5e-5);

  const auto bal = balances(lst);
  ASSERT_EQ(bal.size(), 1u);
  EXPECT_NEAR(bal[0].leakage, -inflow, 1e-4 * inflow);
  checkBalances(lst, 1e-9, 1);
}

// The readers the benchmarks rely on: fields in the program's number forms
// and graphic rows cut at their fixed columns.
TEST(SteadyFlow, ReadersTakeTheFixedColumns) {
  EXPECT_EQ(number(" 0.1234E+02"), 12.34);
  EXPECT_EQ(number("-0.5000E-02"), -0.005);
  EXPECT_EQ(number(" 0.1234+100"), 0.1234e100);
  EXPECT_EQ(number("0.1000000-119"), 0.1e-119);
  EXPECT_EQ(number("   21"), 21.0);
  EXPECT_THROW(number("   "), std::runtime_error);
  EXPECT_THROW(number(" 1.5x"), std::runtime_error);
  Row row;
  ASSERT_TRUE(parseRow("        12  0.1000E+01  0.0000E+00 -0.2500E+01", row));
  EXPECT_EQ(row.n, 12);
  ASSERT_EQ(row.v.size(), 3u);
  EXPECT_EQ(row.v[2], -2.5);
  EXPECT_FALSE(parseRow("1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(", row));
  EXPECT_FALSE(parseRow(" ", row));
  const auto g = readGraphic(
      "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5)   OBS.( 12)   OBS.(\n"
      " \n"
      "         1  0.1000E+01  0.0000E+00  0.5000E+01  0.0000E+00\n"
      "\n"
      "\n"
      "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  1)  PROF.(\n"
      " \n"
      "         1  0.0000E+00  0.0000E+00  0.7000E+01\n"
      "         2  0.1000E+02  0.1000E+01  0.6000E+01\n"
      " \n");
  EXPECT_EQ(g.obsNodes, (std::vector<int>{5, 12}));
  EXPECT_EQ(g.profSteps, (std::vector<int>{1}));
  ASSERT_EQ(g.obs.size(), 1u);
  ASSERT_EQ(g.prof.size(), 2u);
  EXPECT_EQ(g.profile(0, 2), 6.0);
  EXPECT_EQ(obsDeviation(0.0, -0.0009), 0.0);
  EXPECT_NEAR(obsDeviation(0.0, 0.0015), 0.0005, 1e-9);
}

} // namespace

namespace {

// The derivatives of the recharge mound above (--sensitivity, profile of
// every node): with h = h1 + (h2 - h1) x / L + N x (L - x) / (2 K b),
//   dh/dK = -N x (L - x) / (2 K^2 b),  dh/dN = x (L - x) / (2 K b),
//   dh/dh1 = 1 - x / L.
// The heads are exact at the nodes, and so are their derivatives: they are
// held to round-off, relative to the largest of each.
TEST(SteadyFlow, RechargeMoundDerivatives) {
  const double len = 1000.0, k = 10.0, b = 20.0, w = 50.0, n = 0.001;
  const double h1 = 2.0, h2 = 1.0;
  const int ne = 20;
  auto deck = verificationDeck<FlowDeck>("STEADY.LST", "STEADY.GRA");
  deck.ne = ne;
  deck.xn = len;
  deck.grading = 1.5;
  deck.codes.isstat = 1;
  deck.media = {{k, 0.0, 0.0, b, n, 0.0, 0.0, w}};
  deck.values = {{1, h1}, {ne + 1, h2}};
  deck.profiles = {1};
  const Scratch folder("v-mound-sens");
  qmrtest::writeFile(folder.path() / "VELDA.INP", deck.text());
  const auto r = qmrtest::runArgs(
      folder.path(),
      "--quiet --sensitivity-outputs profiles "
      "--sensitivity media[1].conductivity --sensitivity "
      "media[1].recharge --sensitivity prescribed_values[1].value");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines =
      qmrtest::lines(qmrtest::readFile(folder.path() / "STEADY.sens.csv"));
  ASSERT_EQ(lines.size(), 1u + 3u * (ne + 1));
  const double peak[3] = {n * len * len / (8.0 * k * k * b),
                          len * len / (8.0 * k * b), 1.0};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto f = qmrtest::splitCsv(lines[i]);
    const double x = std::stod(f[5]);
    const double mound = x * (len - x) / (2.0 * k * b);
    const int which = f[0] == "media[1].conductivity" ? 0
                      : f[0] == "media[1].recharge"   ? 1
                                                      : 2;
    const double want = which == 0   ? -n * mound / k
                        : which == 1 ? mound
                                     : 1.0 - x / len;
    EXPECT_NEAR(std::stod(f[7]), want, 1e-12 * peak[which]) << lines[i];
    EXPECT_TRUE(f[8].empty()) << lines[i];
  }
}

} // namespace
