// Transport element matrices of one element, checked against hand
// calculation and against the exact integrals of the linear elements.
#include <gtest/gtest.h>

#include "fem/assemt.hpp"
#include "fem/band.hpp"
#include "support.hpp"

namespace {

using qmr::TransportElement;
using qmr::Weights;

constexpr double kTol = 1e-13;

// A unit element: theta = 1, transient, dt = 1, length 1 from 0, b = 1,
// n = 1, R = 1; everything else zero.
struct Case {
  TransportElement<double> e{1.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 1.0,
                             1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  Weights w{1.0, 1.0, 0.0, -0.0, 1.0};
  bool radial = false;
};

void setTheta(Case &c, double theta) {
  c.w.theta = theta;
  c.w.thetm = 1.0 - theta;
  c.w.thtm1 = -c.w.thetm;
}

struct Mat2 {
  double a11, a12, a21, a22;
};

// The left-hand matrix.
Mat2 left(const Case &c) {
  const auto l = qmr::assemt(c.e, c.w, c.radial);
  return {l.alhs11, l.alhs12, l.alhs21, l.alhs22};
}

// The right-hand vector for old concentrations (c1, c2).
std::pair<double, double> rhs(Case &c, double c1, double c2) {
  c.e.hdold1 = c1;
  c.e.hdold2 = c2;
  const auto l = qmr::assemt(c.e, c.w, c.radial);
  return {l.arhsv1, l.arhsv2};
}

// The right-hand matrix, column by column from unit old concentrations
// (valid when there are no sources).
Mat2 right(Case &c) {
  auto [a11, a21] = rhs(c, 1.0, 0.0);
  auto [a12, a22] = rhs(c, 0.0, 1.0);
  return {a11, a12, a21, a22};
}

void expectMat(const Mat2 &m, double a11, double a12, double a21, double a22) {
  EXPECT_NEAR(m.a11, a11, kTol);
  EXPECT_NEAR(m.a12, a12, kTol);
  EXPECT_NEAR(m.a21, a21, kTol);
  EXPECT_NEAR(m.a22, a22, kTol);
}

TEST(TransportElement, DiffusionAndStorageOnly) {
  Case c;
  c.e.edifus = 1.0;
  // Dispersion (1, -1; -1, 1) plus the consistent mass (1/3, 1/6; 1/6, 1/3).
  expectMat(left(c), 4.0 / 3, -5.0 / 6, -5.0 / 6, 4.0 / 3);
  // Fully implicit: the old level carries the mass matrix only.
  expectMat(right(c), 1.0 / 3, 1.0 / 6, 1.0 / 6, 1.0 / 3);
  auto [v1, v2] = rhs(c, 1.0, 0.0);
  EXPECT_NEAR(v1, 1.0 / 3, kTol);
  EXPECT_NEAR(v2, 1.0 / 6, kTol);
}

TEST(TransportElement, AdvectionMakesTheMatrixUnsymmetric) {
  Case c;
  c.e.edifus = 1.0;
  c.e.edarcy = 2.0; // half the advective discharge over the step: 1
  expectMat(left(c), 1.0 / 3, 1.0 / 6, -11.0 / 6, 7.0 / 3);
  expectMat(right(c), 1.0 / 3, 1.0 / 6, 1.0 / 6, 1.0 / 3);

  // A dispersivity adds |q| * alpha = 1 to the dispersion.
  c.e.ealfal = 0.5;
  expectMat(left(c), 4.0 / 3, -5.0 / 6, -17.0 / 6, 10.0 / 3);

  // Flow the other way: same dispersion, advection mirrored.
  c.e.edarcy = -2.0;
  expectMat(left(c), 10.0 / 3, -17.0 / 6, -5.0 / 6, 4.0 / 3);
}

TEST(TransportElement, CentredSchemeSplitsTheOperator) {
  // theta = 0.5: left = M + K/2 and right = M - K/2, with the transport
  // operator K = (0, 0; -2, 2) for unit diffusion and q = 2.
  Case c;
  setTheta(c, 0.5);
  c.e.edifus = 1.0;
  c.e.edarcy = 2.0;
  expectMat(left(c), 1.0 / 3, 1.0 / 6, -5.0 / 6, 4.0 / 3);
  expectMat(right(c), 1.0 / 3, 1.0 / 6, 7.0 / 6, -2.0 / 3);
}

TEST(TransportElement, SteadyStateHasNoStorage) {
  Case c;
  c.w.asign = 0.0;
  c.e.edifus = 1.0;
  expectMat(left(c), 1.0, -1.0, -1.0, 1.0);
  expectMat(right(c), 0.0, 0.0, 0.0, 0.0);
  c.e.edarcy = 2.0;
  expectMat(left(c), 0.0, 0.0, -2.0, 2.0);
}

TEST(TransportElement, RechargeAndLeakageBringSoluteAndDilute) {
  Case c;
  c.e.el = 2.0;
  c.e.edifus = 1.0;
  c.e.eqrech = 1.0;
  c.e.ecrech = 10.0;
  auto [v1, v2] = rhs(c, 0.0, 0.0);
  EXPECT_NEAR(v1, 10.0, kTol);
  EXPECT_NEAR(v2, 10.0, kTol);
  // The recharge (1 x dt) also enters the storage-like term: each row of the
  // left matrix sums to el * (theta * 1 + storage 1) / 2 = 2.
  const Mat2 m = left(c);
  EXPECT_NEAR(m.a11 + m.a12, 2.0, kTol);
  EXPECT_NEAR(m.a21 + m.a22, 2.0, kTol);

  c.e.eqleak = 2.0;
  c.e.ecleak = 3.0; // 2 x 3 x dt x el / 2 = 6 more per node
  auto [w1, w2] = rhs(c, 0.0, 0.0);
  EXPECT_NEAR(w1, 16.0, kTol);
  EXPECT_NEAR(w2, 16.0, kTol);
}

TEST(TransportElement, DecayAndRetardationScaleWithPorosity) {
  Case c;
  c.e.eporos = 0.5;
  c.e.eretar = 2.0;
  c.e.ethick = 2.0;
  c.w.delta = 3.0;
  c.e.edecay = 0.1;
  // Storage n R b = 2, decay n R b dt lambda = 0.6; no dispersion, so each
  // row of the left matrix sums to el * (0.6 + 2) / 2 and each row of the
  // right matrix to el * 2 / 2 (theta = 1 takes the decay to the new level).
  const Mat2 m = left(c);
  EXPECT_NEAR(m.a11 + m.a12, 1.3, kTol);
  EXPECT_NEAR(m.a21 + m.a22, 1.3, kTol);
  EXPECT_NEAR(m.a11, 2.6 / 3, kTol);
  const Mat2 r = right(c);
  EXPECT_NEAR(r.a11 + r.a12, 1.0, kTol);
  EXPECT_NEAR(r.a11, 2.0 / 3, kTol);
}

TEST(TransportElement, RadialTermsAreTheExactRadiusWeightedIntegrals) {
  // Element from radius 10 to 12 (mean 11). With N1, N2 the linear shape
  // functions: mass int r Ni Nj = L/12 (3r1+r2, r1+r2; r1+r2, r1+3r2) =
  // (7, 11/3; 11/3, 23/3); dispersion int r Ni' Nj' = 11/2 (1,-1;-1,1);
  // advection q b int r Ni Nj' = qb/6 (-(2r1+r2), 2r1+r2; -(r1+2r2), r1+2r2)
  // = (-32/3, 32/3; -34/3, 34/3) for qb = 2; sources int r Ni = (32, 34)/3.
  Case c;
  c.radial = true;
  c.e.r1 = 10.0;
  c.e.r2 = 12.0;
  c.e.el = 2.0;
  c.e.edifus = 1.0;
  expectMat(left(c), 7.0 + 5.5, 11.0 / 3 - 5.5, 11.0 / 3 - 5.5, 23.0 / 3 + 5.5);
  expectMat(right(c), 7.0, 11.0 / 3, 11.0 / 3, 23.0 / 3);

  // Centred in time with advection: left = M + K/2, right = M - K/2.
  setTheta(c, 0.5);
  c.e.edarcy = 2.0;
  const double k11 = 5.5 - 32.0 / 3, k12 = -5.5 + 32.0 / 3;
  const double k21 = -5.5 - 34.0 / 3, k22 = 5.5 + 34.0 / 3;
  expectMat(left(c), 7.0 + k11 / 2, 11.0 / 3 + k12 / 2, 11.0 / 3 + k21 / 2,
            23.0 / 3 + k22 / 2);
  expectMat(right(c), 7.0 - k11 / 2, 11.0 / 3 - k12 / 2, 11.0 / 3 - k21 / 2,
            23.0 / 3 - k22 / 2);

  // Recharge 1 at concentration 1 over a unit step: the radius-weighted
  // source of each node.
  c.e.edarcy = 0.0;
  c.e.edifus = 0.0;
  c.w.asign = 0.0;
  c.e.eqrech = 1.0;
  c.e.ecrech = 1.0;
  auto [v1, v2] = rhs(c, 0.0, 0.0);
  EXPECT_NEAR(v1, 32.0 / 3, 1e-12);
  EXPECT_NEAR(v2, 34.0 / 3, 1e-12);
}

TEST(TransportElement, AddsIntoItsOwnRowsOnly) {
  auto s = qmrtest::bandChain(3);
  Case c;
  c.e.edifus = 1.0;
  for (int i = 1; i <= 4; ++i) {
    s->band.aslod(i) = 100.0 + i;
    for (int j = 1; j <= 3; ++j) s->band.astif(i, j) = 10.0 * i + j;
  }
  c.e.hdold1 = 1.0; // the old level of node 2
  qmr::addElement(s->band, 1, 2, qmr::assemt(c.e, c.w, c.radial));
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
