// Steady unconfined (water-table) flow with recharge between two fixed
// heads against the Dupuit solution.
//
// With the base of the aquifer at zb and the saturated thickness
// phi = h - zb, the Dupuit discharge per unit width is -K phi dphi/dx
// = -(K / 2) d(phi^2)/dx, and with recharge N per unit area between phi1 at
// x = 0 and phi2 at x = L:
//   phi^2 = phi1^2 + (phi2^2 - phi1^2) x / L + (N / K) x (L - x).
// The element conductance uses the mean saturated thickness of its two
// nodes, so its discharge K W (phia + phib) / 2 (phia - phib) / L =
// K W (phia^2 - phib^2) / (2 L) is exactly the Dupuit discharge between the
// nodes: at convergence the nodal heads are exact for any mesh. What is left
// is the error of the stopped iteration and the print rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "verify_util.hpp"

namespace {

using namespace qmrverify;

// The iteration stops when no head changes by more than 1E-3 of the range of
// the heads (0 included), here 4E-3 m; the fixed-point iteration contracts
// by about the relative variation of the thickness per iteration (~0.1
// here), so the heads it stops at are within ~5E-4 m of the converged ones.
// We allow 1E-3 m plus the print rounding on every node. A conductance
// taken from the heads instead of the saturated thickness would be off by
// metres; one kept at the initial thickness (a confined aquifer 10 m thick)
// would miss the head at mid-length by 0.4 m.
TEST(WaterTable, DupuitRechargeBetweenFixedHeads) {
  const double len = 500.0, k = 5.0, w = 20.0, n = 0.002, zb = -10.0;
  const double h1 = 0.0, h2 = -4.0; // thicknesses 10 and 6
  const double p1 = h1 - zb, p2 = h2 - zb;
  const int ne = 25;
  auto exact = [&](double x) {
    return zb + std::sqrt(p1 * p1 + (p2 * p2 - p1 * p1) * x / len +
                          n / k * x * (len - x));
  };

  auto deck = verificationDeck<FlowDeck>("DUPUIT.LST", "DUPUIT.GRA");
  deck.ne = ne;
  deck.xn = len;
  deck.codes.isstat = 1;
  deck.codes.i2dwt = 1;
  // The base elevation in place of the thickness with the water table.
  deck.media = {{k, 0.0, 0.0, zb, n, 0.0, 0.0, w}};
  deck.values = {{1, h1}, {ne + 1, h2}};
  deck.initial = h1;
  deck.nitmax = 50; // iteration criteria
  deck.toler = 1e-4;
  deck.relax = 1.0;
  deck.observations = {6, 13, 21};
  deck.profiles = {1};
  const Scratch folder("v-dupuit");
  const auto r = run(folder, deck.text(), "DUPUIT.LST");
  const auto g = readGraphic(r.file("DUPUIT.GRA"));
  const auto lst = r.file("DUPUIT.LST");
  const double dx = len / ne;

  // The iteration did converge (several iterations, no dry element).
  EXPECT_EQ(lst.find("HAS GONE DRY"), std::string::npos);
  EXPECT_NE(lst.find("***** ITERATION   3 OF MAXIMUM  50 *****"),
            std::string::npos);

  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(ne + 1));
  double worst = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip) {
    const double want = exact(dx * (ip - 1));
    const double got = g.profile(0, ip);
    worst = std::max(worst, std::fabs(got - want));
    EXPECT_NEAR(got, want, 1e-3 + printed4(want)) << "node " << ip;
  }
  report("profile head error (m)", worst);
  ASSERT_EQ(g.obs.size(), 1u);
  for (std::size_t j = 0; j < g.obsNodes.size(); ++j) {
    const double want = exact(dx * (g.obsNodes[j] - 1));
    EXPECT_LE(obsDeviation(g.obs[0].v.at(2 + j), want), 1e-3 + printed4(want));
  }
  // Five digits in the listing.
  const auto t = nodalTables(lst);
  ASSERT_EQ(t.size(), 1u);
  double worstL = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip)
    worstL =
        std::max(worstL, std::fabs(t[0].h.at(ip - 1) - exact(dx * (ip - 1))));
  report("listing head error (m)", worstL);
  EXPECT_LE(worstL, 1e-3);

  // Discharges at the ends, -(K W / 2) d(phi^2)/dx entering at x = 0 and
  // (K W / 2) d(phi^2)/dx entering at x = L: exact up to the thicknesses of
  // the last iteration (1E-3 m in 6 to 10 m, 3E-4 relative); we allow 1E-3.
  const double dphi0 = (p2 * p2 - p1 * p1) / len + n / k * len;
  const double dphiL = (p2 * p2 - p1 * p1) / len - n / k * len;
  const double in0 = -k * w / 2.0 * dphi0, inL = k * w / 2.0 * dphiL;
  const auto f = fluxTables(lst);
  ASSERT_EQ(f.size(), 1u);
  ASSERT_EQ(f[0].size(), 2u);
  const double e0 = std::fabs(f[0][0].rate - in0) / std::fabs(in0);
  const double eL = std::fabs(f[0][1].rate - inL) / std::fabs(inL);
  report("discharge error at x = 0 (relative)", e0);
  report("discharge error at x = L (relative)", eL);
  EXPECT_LE(e0, 1e-3);
  EXPECT_LE(eL, 1e-3);

  // The recharge N W L leaves at the two ends; the balance of the last
  // solution closes to round-off whatever the iteration error.
  const auto bal = balances(lst);
  ASSERT_EQ(bal.size(), 1u);
  EXPECT_NEAR(bal[0].recharge, n * w * len, 5e-5 * n * w * len);
  checkBalances(lst, 1e-9, 1);
}

} // namespace
