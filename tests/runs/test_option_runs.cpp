// Whole runs on option combinations that the other tests leave out, each
// checked against a hand calculation or a conservation law computed here
// from the printed values:
// - a transient water-table run with specific storage, aquitard leakage and
//   the leakage cap, on one element (a scalar equation per step) and on two
//   zones (the mass balance, term by term);
// - the radial mass balance with leakage on centred steps, and the steady
//   radial drawdown of a leaky aquifer;
// - transport with a leakage rate that varies by element, on steps of 2.5
//   (the solute balance of a closed column).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmrtest::FlowDeck;
using qmrtest::TransportDeck;

constexpr double kPi = std::numbers::pi;

// Runs a deck in its own folder and expects a normal end.
qmrtest::Run ran(const std::string &tag, const std::string &deck,
                 const std::string &listing) {
  auto r = qmrtest::runDeck(tag, deck);
  EXPECT_EQ(r.status, qmr::kExitNormal) << r.err;
  EXPECT_NE(r.file(listing).find("SUCCESSFUL TERMINATION"), std::string::npos);
  return r;
}

// The root of an increasing function on [lo, hi], by bisection.
template <class F> double root(F f, double lo, double hi) {
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) > 0.0 ? hi : lo) = mid;
  }
  return 0.5 * (lo + hi);
}

// ---------------------------------------------------------------------------
// Water table

// One element of length 10 and width 1 without any boundary condition: both
// nodes see the same equation and keep the same head h. With the base at zb
// the saturated thickness is h - zb, and each fully implicit step of dt
// solves
//   (Sy + Ss (h - zb)) (h - h0) = min(lambda (hf - h), qmax) dt,
// the storage of the thickness at the new head, the leakage from the fixed
// head hf beyond the aquitard capped at qmax (the cap limits inflow only).
// Sy = 0.1, Ss = 0.01, zb = -10: storage 0.2 + 0.01 h; lambda = 0.01,
// hf = 1, qmax = 0.004: capped while h < 0.6, that is for about the first
// 30 steps of 1, then leakage 0.01 (1 - h).
//
// The iteration stops when no head changes by 0.1 % of the head range
// (below 1E-3 here); it contracts by lambda dt / storage (0.05 at most), so
// the heads it stops at are within 1E-4 of the solution of the equation.
// Storage without its specific-storage part (0.1 instead of 0.2) would
// double every rise, an uncapped leakage would give 0.01 instead of 0.004
// on the first step: both miss by far more.
TEST(WaterTableRuns, UniformColumnFollowsTheStorageAndCappedLeakage) {
  const double sy = 0.1, ss = 0.01, zb = -10.0, lambda = 0.01, hf = 1.0,
               qmax = 0.004, dt = 1.0;
  const int nts = 40;
  FlowDeck f;
  f.ne = 1;
  f.xn = 10.0;
  f.nts = nts;
  f.delta1 = dt;
  f.codes.ikall = 1; // fully implicit on every step
  f.codes.i2dwt = 1;
  f.media = {{1.0, ss, sy, zb, 0.0, lambda, hf, 1.0, qmax}};
  f.initial = 0.0;
  f.nitmax = 100;
  f.toler = 1e-9;
  f.relax = 1.0;
  f.observations = {1};
  const auto r = ran("wt-column", f.text(), "run.lst");
  const auto t = qmrtest::nodalTables(r.file("run.lst"));
  ASSERT_EQ(t.size(), static_cast<std::size_t>(nts));

  double h0 = 0.0;
  bool capped = false, free = false;
  for (int k = 0; k < nts; ++k) {
    const double h = root(
        [&](double x) {
          return (sy + ss * (x - zb)) * (x - h0) -
                 std::min(lambda * (hf - x), qmax) * dt;
        },
        h0, hf);
    (lambda * (hf - h) > qmax ? capped : free) = true;
    ASSERT_EQ(t[k].h.size(), 2u);
    EXPECT_NEAR(t[k].h[0], h, 1e-4) << "step " << k + 1;
    EXPECT_NEAR(t[k].h[1], t[k].h[0], 1e-9) << "step " << k + 1;
    h0 = h;
  }
  EXPECT_TRUE(capped && free) << "both sides of the cap";
  for (const auto &b : qmrtest::balances(r.file("run.lst")))
    EXPECT_LE(std::fabs(b.outOfBalance), 1e-3 * b.largest());
}

// Ten elements of 10 (width 5) in two zones on a base at -10, head 0 held
// at node 1, a discharge of 0.01 at node 11, centred steps of 1 after the
// first. Zone 1 (elements 1-5) takes recharge 5E-4 and leakage from a head
// of 1 through 0.01, capped at 0.002 (the heads stay near 0, so the cap
// holds throughout: 0.002 x 5 x 10 = 0.1 per element and unit time); zone 2
// loses water upward to a head of -0.5 through 0.005, which no cap limits.
//
// From the printed heads (mean head of each element, time-weighted with the
// step's weight theta) the leakage and the storage of every step are
// recomputed here and compared with the printed terms, and the printed
// balance must close: a load missing from the elements the iteration
// assembles (storage, leakage, the cap) leaves a large imbalance, since the
// balance takes every term from the heads.
TEST(WaterTableRuns, TwoZonesBalanceTermByTerm) {
  const double sy = 0.1, ss = 0.01, zb = -10.0, w = 5.0, len = 10.0;
  const double rech = 5e-4, lambda1 = 0.01, hf1 = 1.0, qmax = 0.002;
  const double lambda2 = 0.005, hf2 = -0.5;
  const int nts = 10;
  FlowDeck f;
  f.ne = 10;
  f.xn = 100.0;
  f.nts = nts;
  f.codes.i2dwt = 1;
  f.media = {{10.0, ss, sy, zb, rech, lambda1, hf1, w, qmax},
             {10.0, ss, sy, zb, 0.0, lambda2, hf2, w, 0.0}};
  f.zones = {1, 6};
  f.values = {{1, 0.0}};
  f.fluxes = {{11, -0.01}};
  f.nitmax = 100;
  f.toler = 1e-9;
  f.relax = 1.0;
  const auto r = ran("wt-zones", f.text(), "run.lst");
  const auto lst = r.file("run.lst");
  const auto t = qmrtest::nodalTables(lst);
  const auto b = qmrtest::balances(lst);
  ASSERT_EQ(t.size(), static_cast<std::size_t>(nts));
  ASSERT_EQ(b.size(), static_cast<std::size_t>(nts));

  std::vector<double> old(11, 0.0);
  for (int k = 0; k < nts; ++k) {
    SCOPED_TRACE("step " + std::to_string(k + 1));
    ASSERT_EQ(t[k].h.size(), 11u);
    const auto &h = t[k].h;
    const double theta = k == 0 ? 1.0 : 0.5;
    double leak = 0.0, store = 0.0;
    for (int e = 0; e < 10; ++e) {
      const double mnew = 0.5 * (h[e] + h[e + 1]);
      const double mold = 0.5 * (old[e] + old[e + 1]);
      const double mean = theta * mnew + (1.0 - theta) * mold;
      if (e < 5) {
        ASSERT_GT(lambda1 * (hf1 - mean), qmax) << "the cap holds";
        leak += qmax * w * len;
      } else {
        leak += lambda2 * w * (hf2 - mean) * len;
      }
      store += (sy + ss * (mean - zb)) * w * len * (mnew - mold);
    }
    EXPECT_NEAR(b[k].fluxes, -0.01, 1e-12);
    EXPECT_NEAR(b[k].recharge, rech * w * len * 5, 1e-9);
    EXPECT_NEAR(b[k].leakage, leak, 1e-4);
    // Heads printed to 5 digits (below 5E-6 here) in ten elements of
    // storage 10 per unit head.
    EXPECT_NEAR(b[k].storage, store, 2e-4 + 1e-3 * std::fabs(store));
    EXPECT_GT(std::fabs(b[k].storage), 0.01);
    EXPECT_LE(std::fabs(b[k].outOfBalance), 1e-4 * b[k].largest());
    old = h;
  }
}

// ---------------------------------------------------------------------------
// Radial flow with leakage

// A well pumping Q = 1000 from a leaky confined aquifer (T = 20 x 5 = 100,
// S = 1E-3, leakage coefficient 0.01 from a head of 0: leakage factor
// B = sqrt(T / lambda) = 100), on a logarithmic mesh from 0.1 to 1000 with
// 10 elements per decade, the head held at 0 at the outer node.
FlowDeck leakyWell() {
  FlowDeck f;
  f.ne = 40;
  f.x1 = 0.1;
  f.xn = 1000.0;
  f.codes.imshgn = 3;
  f.codes.iaxsym = 1;
  f.media = {{20.0, 0.0, 1e-3, 5.0, 0.0, 0.01, 0.0, 0.0, 0.0}};
  f.values = {{41, 0.0}};
  f.fluxes = {{1, -1000.0 / (2.0 * kPi)}}; // per radian
  return f;
}

// Every term of the radial balance is the exact integral over the radius of
// an element with linear heads; the element matrices integrate the same
// way, so the balance closes to round-off on every step, the centred ones
// (whose leakage takes the old heads' gradient with the weight 1 - theta)
// included. The leakage takes a growing part of the water: a tenth from
// t = 0.025 (step 8) on, nearly all of it at the last step (t = 0.63, a few
// times S / lambda = 0.1).
TEST(RadialRuns, LeakyBalanceClosesOnCentredSteps) {
  FlowDeck f = leakyWell();
  f.nts = 15;
  f.delta1 = 1e-3;
  f.ntslog = 5; // to 0.63
  // Heads falling towards the well from the start: the first, fully
  // implicit step has an old gradient too (which it must not weigh).
  for (int ip = 1; ip <= 40; ++ip)
    f.nonuniform.emplace_back(ip, -0.02 * (41 - ip));
  const auto r = ran("radial-leaky", f.text(), "run.lst");
  const auto b = qmrtest::balances(r.file("run.lst"));
  ASSERT_EQ(b.size(), 15u);
  double worst = 0.0;
  for (std::size_t k = 0; k < b.size(); ++k) {
    const double ratio = std::fabs(b[k].outOfBalance) / b[k].largest();
    worst = std::max(worst, ratio);
    EXPECT_LE(ratio, 1e-9) << "step " << k + 1;
    if (k >= 7) {
      EXPECT_GT(b[k].leakage, 0.1 * std::fabs(b[k].fluxes)) << k + 1;
    }
  }
  EXPECT_GT(b.back().leakage, 0.9 * std::fabs(b.back().fluxes));
  std::printf("  largest out of balance / largest term: %.3e\n", worst);
}

// Steady: the drawdown of a leaky aquifer, s(r) = Q / (2 pi T) K0(r / B)
// (Hantush and Jacob), for r well inside the mesh. The logarithmic mesh
// conducts with a relative deficit of about (ln rho)^2 / 12 = 4E-4 and
// lumps the leakage of an element of 26 % of its radius: we allow 2 % of
// the drawdown (a leakage coefficient wrong by 10 % moves the drawdown at
// r = 100 by 8 %).
TEST(RadialRuns, SteadyLeakyDrawdownFollowsHantush) {
  FlowDeck f = leakyWell();
  f.codes.isstat = 1;
  const auto r = ran("radial-hantush", f.text(), "run.lst");
  const auto t = qmrtest::nodalTables(r.file("run.lst"));
  ASSERT_EQ(t.size(), 1u);
  ASSERT_EQ(t[0].h.size(), 41u);
  const double s0 = 1000.0 / (2.0 * kPi * 100.0);
  for (int ip = 1; ip <= 31; ip += 5) { // r = 0.1 .. 100
    const double rad = t[0].x[ip - 1];
    const double want = -s0 * std::cyl_bessel_k(0.0, rad / 100.0);
    EXPECT_NEAR(t[0].h[ip - 1], want, 0.02 * std::fabs(want)) << "r " << rad;
  }
  // All the pumped water comes through the aquitard, but for what enters
  // at r = 1000 = 10 B: a fraction (R / B) K1(R / B) = 2E-4 of it.
  const auto b = qmrtest::balances(r.file("run.lst"));
  ASSERT_EQ(b.size(), 1u);
  EXPECT_NEAR(b[0].leakage, 1000.0 / (2.0 * kPi), 1e-2 * 1000.0 / (2.0 * kPi));
}

// ---------------------------------------------------------------------------
// Transport with leakage

// A closed column (no advection, no boundary condition) of ten elements of
// 10, thickness 2, porosity 0.25, retardation 2, diffusion 0.1, at 1
// initially; leakage at 0.001 e (element e) carries water at 5 into it. The
// sum of all node equations is the solute balance of the step (the
// dispersion rows sum to zero):
//   sum_e n R b (m_e - m_e') = dt sum_e q_e (L c_leak - theta m_e
//                                             - (1 - theta) m_e'),
// m_e = L (c1 + c2) / 2 the element integral of the new, m_e' of the old
// concentrations. Checked on every step of 2.5 (theta 1, then 0.5) with the
// printed concentrations (5 digits: a storage error below 1E-2 a step); the
// leakage terms are about 5 a step, and the dilution alone about 1.4.
TEST(TransportLeakRuns, ClosedColumnKeepsItsSoluteBalance) {
  const int ne = 10;
  const double len = 10.0, thick = 2.0, n = 0.25, rf = 2.0, cleak = 5.0,
               dt = 2.5;
  auto q = [](int e) { return 0.001 * e; }; // e from 1
  const auto dir = qmrtest::scratch("tr-leak");
  std::string vel;
  for (int e = 1; e <= ne; ++e)
    vel += qmrtest::velocityRecord(e, 0.0, thick, q(e), 0.0) + "\n";
  qmrtest::writeFile(dir / "LEAK.VEL", vel);
  TransportDeck t;
  t.ne = ne;
  t.xn = ne * len;
  t.velocity = "LEAK.VEL";
  t.nts = 8;
  t.delta1 = dt;
  t.media = {{0.0, 0.1, n, rf, 0.0, 0.0, cleak, 1.0}};
  t.initial = 1.0;
  const auto r = qmrtest::runDeckIn(dir, t.text());
  ASSERT_EQ(r.status, qmr::kExitNormal) << r.err;
  const auto tables = qmrtest::nodalTables(r.file("run.lst"));
  ASSERT_EQ(tables.size(), 8u);
  std::vector<double> old(ne + 1, 1.0);
  for (std::size_t k = 0; k < tables.size(); ++k) {
    SCOPED_TRACE("step " + std::to_string(k + 1));
    const auto &c = tables[k].h;
    ASSERT_EQ(c.size(), static_cast<std::size_t>(ne + 1));
    const double theta = k == 0 ? 1.0 : 0.5;
    double stored = 0.0, entered = 0.0, diluted = 0.0;
    for (int e = 1; e <= ne; ++e) {
      const double m = len * 0.5 * (c[e - 1] + c[e]);
      const double mo = len * 0.5 * (old[e - 1] + old[e]);
      stored += n * rf * thick * (m - mo);
      entered += dt * q(e) * len * cleak;
      diluted += dt * q(e) * (theta * m + (1.0 - theta) * mo);
    }
    EXPECT_GT(stored, 1.0);
    EXPECT_NEAR(stored, entered - diluted, 1e-2);
    // Every element keeps between its old value and the leakage's.
    for (double v : c) {
      EXPECT_GT(v, 1.0);
      EXPECT_LT(v, cleak);
    }
    old = c;
  }
}

} // namespace
