// Transient confined flow against the erfc solution of a sudden head change
// at one end of a long aquifer, and the order of convergence of the scheme
// under mesh refinement.
//
// The aquifer: conductivity K, thickness b, specific storage Ss, storage
// coefficient Sc, width W; so T = K b, S = Ss b + Sc and D = T / S per unit
// width. At t = 0 the head at x = 0 is raised from 0 to dh and held:
//   h(x, t) = dh erfc(x / (2 sqrt(D t))),
// and the volume that has entered at x = 0 by time t is
//   V(t) = 2 S W dh sqrt(D t / pi).
// The far end of the mesh is held at 0, at a distance where erfc is below
// 1E-10 for every time compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "verify_util.hpp"

namespace {

using namespace qmrverify;

constexpr double kK = 10.0, kB = 10.0, kSs = 0.0005, kSc = 0.005, kW = 5.0;
constexpr double kT = kK * kB;        // 100
constexpr double kS = kSs * kB + kSc; // 0.01
constexpr double kD = kT / kS;        // 1E4
constexpr double kDh = 1.0;

double erfcHead(double x, double t) {
  return kDh * std::erfc(x / (2.0 * std::sqrt(kD * t)));
}

struct Case {
  int ne = 100;
  double len = 1000.0;
  double t0 = 0.0; // start time; above 0 the run starts from the exact heads
  double dt = 0.01;
  int nts = 100;
  int istep = 100; // print interval of nodal tables and mass balances
  std::vector<int> obs, profs;
};

std::string deck(const Case &c) {
  auto f = verificationDeck<FlowDeck>("ERFC.LST", "ERFC.GRA");
  f.ne = c.ne;
  f.xn = c.len;
  f.nts = c.nts;
  f.codes.istep = c.istep;
  f.media = {{kK, kSs, kSc, kB, 0.0, 0.0, 0.0, kW}};
  f.tima = c.t0; // linear steps
  f.delta1 = c.dt;
  f.values = {{1, kDh}, {c.ne + 1, 0.0}};
  if (c.t0 > 0.0)
    for (int ip = 1; ip <= c.ne + 1; ++ip)
      f.nonuniform.emplace_back(ip, erfcHead(c.len * (ip - 1) / c.ne, c.t0));
  f.observations = c.obs;
  f.profiles = c.profs;
  return f.text();
}

// Sudden change at t = 0: dx = 10 m, 100 steps of 0.01 d (D dt / dx^2 = 1).
// The first step is fully implicit, the others centred.
//
// Tolerance. Space: linear elements with a consistent storage matrix
// overestimate the decay rate of a Fourier mode k by (k dx)^2 / 12; for the
// erfc front (k ~ 1 / (2 sqrt(D t))) this gives errors of about 1.5E-3 of
// dh at t = 0.1 (front width 2 sqrt(D t) = 63 m = 6 elements) falling to
// about 1.5E-4 by t = 1. Time: the centred steps err by (D k^2 dt)^2 / 12
// relative per unit time, and the fully implicit first step lags the head
// change by about dt / 2; both stay near 1E-3 of dh at t = 0.1 and fall as the
// front spreads. We allow 3E-3 dh from t = 0.1 on and 1E-3 dh from t = 0.5 on,
// plus the print rounding. A head change applied one step late would give
// 6E-3 dh at x = 100 m, t = 0.25; a storage wrong by 10 % about 0.02 dh.
TEST(TransientFlow, SuddenHeadChangeFollowsErfc) {
  Case c;
  c.istep = 1;
  c.obs = {6, 11, 21, 31}; // x = 50, 100, 200, 300
  c.profs = {10, 25, 50, 100};
  const Scratch folder("v-erfc");
  const auto r = run(folder, deck(c), "ERFC.LST");
  const auto g = readGraphic(r.file("ERFC.GRA"));
  const auto lst = r.file("ERFC.LST");
  const double dx = c.len / c.ne;

  // Observation rows: every step from t = 0.1 on.
  ASSERT_EQ(g.obs.size(), static_cast<std::size_t>(c.nts));
  double worstEarly = 0.0, worstLate = 0.0;
  for (const auto &row : g.obs) {
    const double t = row.v.at(0);
    EXPECT_NEAR(t, c.dt * row.n, 5e-4 * t);
    const double tt = c.dt * row.n; // the exact time of the step
    if (tt < 0.1 - 1e-9) continue;
    for (std::size_t j = 0; j < c.obs.size(); ++j) {
      const double want = erfcHead(dx * (c.obs[j] - 1), tt);
      const double got = row.v.at(2 + j);
      const double err = obsDeviation(got, want);
      const double allowed = (tt < 0.5 - 1e-9 ? 3e-3 : 1e-3) * kDh;
      (tt < 0.5 - 1e-9 ? worstEarly : worstLate) =
          std::max(tt < 0.5 - 1e-9 ? worstEarly : worstLate, err);
      EXPECT_LE(err, allowed + printed4(want))
          << "t " << tt << " x " << dx * (c.obs[j] - 1);
    }
  }
  report("observation error, 0.1 <= t < 0.5 (/ dh)", worstEarly);
  report("observation error, t >= 0.5 (/ dh)", worstLate);

  // Profiles: the whole mesh at t = 0.1, 0.25, 0.5 and 1.
  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(c.ne + 1));
  for (std::size_t k = 0; k < c.profs.size(); ++k) {
    const double tt = c.dt * c.profs[k];
    double worst = 0.0;
    for (int ip = 1; ip <= c.ne + 1; ++ip) {
      const double want = erfcHead(dx * (ip - 1), tt);
      const double got = g.profile(k, ip);
      worst = std::max(worst, std::fabs(got - want));
      EXPECT_NEAR(got, want, (tt < 0.5 ? 3e-3 : 1e-3) * kDh + printed4(want))
          << "t " << tt << " node " << ip;
    }
    report("profile error at t = " + std::to_string(tt) + " (/ dh)", worst);
  }

  // The volume that entered at x = 0 is the storage gained: the accumulated
  // flux of node 1 against 2 S W dh sqrt(D t / pi). Its relative error
  // comes mostly from the first steps, while the front is narrower than an
  // element, and shrinks as the front spreads: about 7E-4 at t = 0.25. We
  // allow 3E-3; a storage or a conductivity wrong by 10 % would give 5 %.
  const auto f = fluxTables(lst);
  ASSERT_EQ(f.size(), static_cast<std::size_t>(c.nts));
  for (int step : {25, 50, 100}) {
    const double tt = c.dt * step;
    const double want =
        2.0 * kS * kW * kDh * std::sqrt(kD * tt / std::numbers::pi);
    const double got = f[step - 1].at(0).accum;
    const double err = std::fabs(got - want) / want;
    report("inflow volume error at t = " + std::to_string(tt) + " (rel.)", err);
    EXPECT_LE(err, 3e-3) << "t " << tt;
  }
  // The far end takes nothing measurable: the front has not arrived.
  EXPECT_LE(std::fabs(f.back().at(1).accum), 1e-6);

  // Mass balance of every step: round-off only.
  checkBalances(lst, 1e-8, static_cast<std::size_t>(c.nts));
}

// Order of convergence in space. Starting from the exact heads at
// t0 = 0.01 d (front width 2 sqrt(D t0) = 20 m), three meshes of 50, 100 and
// 200 elements over 400 m (dx = 8, 4, 2 m) run 100 steps of 4E-4 d to
// t = 0.05 d; the heads of the last step are read from the listing (five
// digits, 1E-5 of dh) and compared with erfc at every node.
//
// A smooth start is used because the sudden change has no smooth solution
// at t = 0: the error made while the front is narrower than an element is
// not in the asymptotic range of the scheme. With dt = 4E-4 the time error,
// (D k^2 dt)^2 / 12 against the space error (k dx)^2 / 12 per unit time,
// is below 1 % of the space error even on the finest mesh, so halving dx
// should divide the error by 4 (linear elements, consistent storage: second
// order). We require a ratio of at least 3 between successive meshes; first
// order would give 2. The finest error (~1E-4) is still ten times the
// printed resolution.
TEST(TransientFlow, MeshRefinementIsSecondOrder) {
  std::vector<double> errors;
  for (int ne : {50, 100, 200}) {
    Case c;
    c.ne = ne;
    c.len = 400.0;
    c.t0 = 0.01;
    c.dt = 4e-4;
    c.nts = 100;
    const Scratch folder("v-refine");
    const auto r = run(folder, deck(c), "ERFC.LST");
    const auto lst = r.file("ERFC.LST");
    checkBalances(lst, 1e-8, 1);
    const auto t = nodalTables(lst);
    ASSERT_EQ(t.size(), 1u);
    ASSERT_EQ(t[0].h.size(), static_cast<std::size_t>(ne + 1));
    const double tend = c.t0 + c.dt * c.nts;
    double worst = 0.0;
    for (int ip = 1; ip <= ne + 1; ++ip)
      worst = std::max(worst, std::fabs(t[0].h[ip - 1] -
                                        erfcHead(c.len * (ip - 1) / ne, tend)));
    report("max error, dx = " + std::to_string(c.len / ne), worst);
    errors.push_back(worst);
  }
  for (std::size_t i = 1; i < errors.size(); ++i) {
    const double ratio = errors[i - 1] / errors[i];
    report("error ratio on halving dx (" + std::to_string(i) + ")", ratio);
    EXPECT_GE(ratio, 3.0);
    EXPECT_LE(ratio, 5.0); // not a fluke of rounding either
  }
}

} // namespace
