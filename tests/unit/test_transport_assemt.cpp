// Transport element matrices of one element, checked against hand
// calculation and against the exact integrals of the linear elements.
#include <gtest/gtest.h>

#include "fem/fem.hpp"
#include "support.hpp"

namespace {

using qmr::State;

constexpr double kTol = 1e-13;

// A two-node state with the band constants in place and the element work
// values of a unit element: theta = 1, transient, dt = 1, b = 1, n = 1,
// R = 1; everything else zero.
std::unique_ptr<State> unitElement() {
  auto s = qmrtest::bandChain(1);
  s->im01 = 1;
  s->ip01 = 3;
  s->clock.theta = 1.0;
  s->clock.thetm = 0.0;
  s->clock.thtm1 = -0.0;
  s->clock.delta = 1.0;
  s->clock.asign = 1.0;
  s->el = 1.0;
  s->ethick = 1.0;
  s->eporos = 1.0;
  s->eretar = 1.0;
  s->mesh.ecoord(1) = 0.0;
  s->mesh.ecoord(2) = 1.0;
  return s;
}

void setTheta(State &s, double theta) {
  s.clock.theta = theta;
  s.clock.thetm = 1.0 - theta;
  s.clock.thtm1 = -s.clock.thetm;
}

struct Mat2 {
  double a11, a12, a21, a22;
};

// The left-hand matrix as left in the band of a cleared system.
Mat2 left(State &s) {
  for (int i = 1; i <= 2; ++i) {
    s.band.aslod(i) = 0.0;
    for (int j = 1; j <= 3; ++j) s.band.astif(i, j) = 0.0;
  }
  qmr::assemt(s, 1);
  return {s.band.astif(1, 2), s.band.astif(1, 3), s.band.astif(2, 1), s.band.astif(2, 2)};
}

// The right-hand vector for old concentrations (c1, c2).
std::pair<double, double> rhs(State &s, double c1, double c2) {
  s.lev.hdold(1) = c1;
  s.lev.hdold(2) = c2;
  left(s);
  return {s.band.aslod(1), s.band.aslod(2)};
}

// The right-hand matrix, column by column from unit old concentrations
// (valid when there are no sources).
Mat2 right(State &s) {
  auto [a11, a21] = rhs(s, 1.0, 0.0);
  auto [a12, a22] = rhs(s, 0.0, 1.0);
  return {a11, a12, a21, a22};
}

void expectMat(const Mat2 &m, double a11, double a12, double a21, double a22) {
  EXPECT_NEAR(m.a11, a11, kTol);
  EXPECT_NEAR(m.a12, a12, kTol);
  EXPECT_NEAR(m.a21, a21, kTol);
  EXPECT_NEAR(m.a22, a22, kTol);
}

TEST(TransportElement, DiffusionAndStorageOnly) {
  auto s = unitElement();
  s->edifus = 1.0;
  // Dispersion (1, -1; -1, 1) plus the consistent mass (1/3, 1/6; 1/6, 1/3).
  expectMat(left(*s), 4.0 / 3, -5.0 / 6, -5.0 / 6, 4.0 / 3);
  // Fully implicit: the old level carries the mass matrix only.
  expectMat(right(*s), 1.0 / 3, 1.0 / 6, 1.0 / 6, 1.0 / 3);
  auto [v1, v2] = rhs(*s, 1.0, 0.0);
  EXPECT_NEAR(v1, 1.0 / 3, kTol);
  EXPECT_NEAR(v2, 1.0 / 6, kTol);
}

TEST(TransportElement, AdvectionMakesTheMatrixUnsymmetric) {
  auto s = unitElement();
  s->edifus = 1.0;
  s->edarcy = 2.0; // half the advective discharge over the step: 1
  expectMat(left(*s), 1.0 / 3, 1.0 / 6, -11.0 / 6, 7.0 / 3);
  expectMat(right(*s), 1.0 / 3, 1.0 / 6, 1.0 / 6, 1.0 / 3);

  // A dispersivity adds |q| * alpha = 1 to the dispersion.
  s->ealfal = 0.5;
  expectMat(left(*s), 4.0 / 3, -5.0 / 6, -17.0 / 6, 10.0 / 3);

  // Flow the other way: same dispersion, advection mirrored.
  s->edarcy = -2.0;
  expectMat(left(*s), 10.0 / 3, -17.0 / 6, -5.0 / 6, 4.0 / 3);
}

TEST(TransportElement, CentredSchemeSplitsTheOperator) {
  // theta = 0.5: left = M + K/2 and right = M - K/2, with the transport
  // operator K = (0, 0; -2, 2) for unit diffusion and q = 2.
  auto s = unitElement();
  setTheta(*s, 0.5);
  s->edifus = 1.0;
  s->edarcy = 2.0;
  expectMat(left(*s), 1.0 / 3, 1.0 / 6, -5.0 / 6, 4.0 / 3);
  expectMat(right(*s), 1.0 / 3, 1.0 / 6, 7.0 / 6, -2.0 / 3);
}

TEST(TransportElement, SteadyStateHasNoStorage) {
  auto s = unitElement();
  s->clock.asign = 0.0;
  s->edifus = 1.0;
  expectMat(left(*s), 1.0, -1.0, -1.0, 1.0);
  expectMat(right(*s), 0.0, 0.0, 0.0, 0.0);
  s->edarcy = 2.0;
  expectMat(left(*s), 0.0, 0.0, -2.0, 2.0);
}

TEST(TransportElement, RechargeAndLeakageBringSoluteAndDilute) {
  auto s = unitElement();
  s->el = 2.0;
  s->edifus = 1.0;
  s->eqrech = 1.0;
  s->ecrech = 10.0;
  auto [v1, v2] = rhs(*s, 0.0, 0.0);
  EXPECT_NEAR(v1, 10.0, kTol);
  EXPECT_NEAR(v2, 10.0, kTol);
  // The recharge (1 x dt) also enters the storage-like term: each row of the
  // left matrix sums to el * (theta * 1 + storage 1) / 2 = 2.
  const Mat2 m = left(*s);
  EXPECT_NEAR(m.a11 + m.a12, 2.0, kTol);
  EXPECT_NEAR(m.a21 + m.a22, 2.0, kTol);

  s->eqleak = 2.0;
  s->ecleak = 3.0; // 2 x 3 x dt x el / 2 = 6 more per node
  auto [w1, w2] = rhs(*s, 0.0, 0.0);
  EXPECT_NEAR(w1, 16.0, kTol);
  EXPECT_NEAR(w2, 16.0, kTol);
}

TEST(TransportElement, DecayAndRetardationScaleWithPorosity) {
  auto s = unitElement();
  s->eporos = 0.5;
  s->eretar = 2.0;
  s->ethick = 2.0;
  s->clock.delta = 3.0;
  s->edecay = 0.1;
  // Storage n R b = 2, decay n R b dt lambda = 0.6; no dispersion, so each
  // row of the left matrix sums to el * (0.6 + 2) / 2 and each row of the
  // right matrix to el * 2 / 2 (theta = 1 takes the decay to the new level).
  const Mat2 m = left(*s);
  EXPECT_NEAR(m.a11 + m.a12, 1.3, kTol);
  EXPECT_NEAR(m.a21 + m.a22, 1.3, kTol);
  EXPECT_NEAR(m.a11, 2.6 / 3, kTol);
  const Mat2 r = right(*s);
  EXPECT_NEAR(r.a11 + r.a12, 1.0, kTol);
  EXPECT_NEAR(r.a11, 2.0 / 3, kTol);
}

TEST(TransportElement, RadialTermsAreTheExactRadiusWeightedIntegrals) {
  // Element from radius 10 to 12 (mean 11). With N1, N2 the linear shape
  // functions: mass int r Ni Nj = L/12 (3r1+r2, r1+r2; r1+r2, r1+3r2) =
  // (7, 11/3; 11/3, 23/3); dispersion int r Ni' Nj' = 11/2 (1,-1;-1,1);
  // advection q b int r Ni Nj' = qb/6 (-(2r1+r2), 2r1+r2; -(r1+2r2), r1+2r2)
  // = (-32/3, 32/3; -34/3, 34/3) for qb = 2; sources int r Ni = (32, 34)/3.
  auto s = unitElement();
  s->codes.iaxsym = 1;
  s->mesh.ecoord(1) = 10.0;
  s->mesh.ecoord(2) = 12.0;
  s->el = 2.0;
  s->edifus = 1.0;
  expectMat(left(*s), 7.0 + 5.5, 11.0 / 3 - 5.5, 11.0 / 3 - 5.5,
            23.0 / 3 + 5.5);
  expectMat(right(*s), 7.0, 11.0 / 3, 11.0 / 3, 23.0 / 3);

  // Centred in time with advection: left = M + K/2, right = M - K/2.
  setTheta(*s, 0.5);
  s->edarcy = 2.0;
  const double k11 = 5.5 - 32.0 / 3, k12 = -5.5 + 32.0 / 3;
  const double k21 = -5.5 - 34.0 / 3, k22 = 5.5 + 34.0 / 3;
  expectMat(left(*s), 7.0 + k11 / 2, 11.0 / 3 + k12 / 2, 11.0 / 3 + k21 / 2,
            23.0 / 3 + k22 / 2);
  expectMat(right(*s), 7.0 - k11 / 2, 11.0 / 3 - k12 / 2, 11.0 / 3 - k21 / 2,
            23.0 / 3 - k22 / 2);

  // Recharge 1 at concentration 1 over a unit step: the radius-weighted
  // source of each node.
  s->edarcy = 0.0;
  s->edifus = 0.0;
  s->clock.asign = 0.0;
  s->eqrech = 1.0;
  s->ecrech = 1.0;
  auto [v1, v2] = rhs(*s, 0.0, 0.0);
  EXPECT_NEAR(v1, 32.0 / 3, 1e-12);
  EXPECT_NEAR(v2, 34.0 / 3, 1e-12);
}

TEST(TransportElement, AddsIntoItsOwnRowsOnly) {
  auto s = unitElement();
  s->mesh.ne = 3;
  s->mesh.np = s->mesh.nd = 4;
  s->edifus = 1.0;
  for (int i = 1; i <= 4; ++i) {
    s->band.aslod(i) = 100.0 + i;
    for (int j = 1; j <= 3; ++j) s->band.astif(i, j) = 10.0 * i + j;
  }
  s->lev.hdold(2) = 1.0;
  qmr::assemt(*s, 2);
  // Rows 1 and 4 untouched.
  EXPECT_EQ(s->band.aslod(1), 101.0);
  EXPECT_EQ(s->band.aslod(4), 104.0);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(s->band.astif(1, j), 10.0 + j);
    EXPECT_EQ(s->band.astif(4, j), 40.0 + j);
  }
  // Diagonal and right-hand side accumulated, off-diagonals replaced, the
  // outer neighbours of rows 2 and 3 kept.
  EXPECT_NEAR(s->band.astif(2, 2), 22.0 + 4.0 / 3, kTol);
  EXPECT_NEAR(s->band.astif(2, 3), -5.0 / 6, kTol);
  EXPECT_NEAR(s->band.astif(3, 1), -5.0 / 6, kTol);
  EXPECT_NEAR(s->band.astif(3, 2), 32.0 + 4.0 / 3, kTol);
  EXPECT_EQ(s->band.astif(2, 1), 21.0);
  EXPECT_EQ(s->band.astif(3, 3), 33.0);
  EXPECT_NEAR(s->band.aslod(2), 102.0 + 1.0 / 3, kTol);
  EXPECT_NEAR(s->band.aslod(3), 103.0 + 1.0 / 6, kTol);
}

} // namespace
