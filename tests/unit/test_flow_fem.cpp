// Flow element matrices, the leakage limiter, the banded solver and the step
// start, checked against hand calculation and simple physics.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fem/assemf.hpp"
#include "fem/band.hpp"
#include "fem/fem.hpp"
#include "fem/sbleak.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmr::FlowElement;
using qmr::LocalSystem;
using qmr::State;
using qmr::Weights;
using qmrtest::lines;

constexpr double kTol = 1e-13;

// A chain of ne elements with the band constants set and an empty system;
// first-step time weighting (theta 1), transient, step length 1.
std::unique_ptr<State> chain(int ne) {
  auto s = qmrtest::bandChain(ne);
  s->clock.theta = 1.0;
  s->clock.thetm = 0.0;
  s->clock.delta = 1.0;
  s->clock.asign = 1.0;
  for (int ip = 1; ip <= s->mesh.np; ++ip) s->mesh.ecoord(ip) = ip - 1.0;
  return s;
}

// First-step weights: theta 1, transient, step length 1.
Weights implicitStep() { return {1.0, 1.0, 0.0, -0.0, 1.0}; }

// An element of length el from 0, nothing but what a test sets.
FlowElement<double> element(double el) {
  return {el, 0.0, el, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
}

// The worked element: L = 2, T = 1, S = 0.3, no leakage, dt = 1, theta 0.5,
// old heads 10 and 12.
FlowElement<double> workedElement() {
  FlowElement<double> e = element(2.0);
  e.eltran = 1.0;
  e.elstor = 0.3;
  e.hdold1 = 10.0;
  e.hdold2 = 12.0;
  return e;
}
const Weights kCentred{1.0, 0.5, 0.5, -0.5, 1.0};

void expectMatrix(const LocalSystem<double> &l, double a11, double a12,
                  double a21, double a22) {
  EXPECT_NEAR(l.alhs11, a11, kTol);
  EXPECT_NEAR(l.alhs12, a12, kTol);
  EXPECT_NEAR(l.alhs21, a21, kTol);
  EXPECT_NEAR(l.alhs22, a22, kTol);
}

// The solver on the state's band; a bad pivot ends the run as in a step.
void solve(State &s) {
  if (const qmr::PivotFault f = qmr::asm_(s.band, s.bc, s.mesh.nd))
    qmr::pivotFailure(s.io, f);
}

TEST(FlowAssemf, WorkedElementPlanar) {
  const auto l = qmr::assemf(workedElement(), kCentred, false);
  expectMatrix(l, 0.45, -0.15, -0.15, 0.45);
  // Right matrix [-0.05, 0.35; 0.35, -0.05] applied to the old heads.
  EXPECT_NEAR(l.arhsv1, 3.7, kTol);
  EXPECT_NEAR(l.arhsv2, 2.9, kTol);
}

TEST(FlowAssemf, WorkedElementRadial) {
  auto e = workedElement();
  e.r1 = 0.0;
  e.r2 = 2.0; // mean radius 1
  const auto l = qmr::assemf(e, kCentred, true);
  expectMatrix(l, 0.35, -0.15, -0.15, 0.55);
  // Right matrix [-0.15, 0.35; 0.35, 0.05]: (-1.5 + 4.2, 3.5 + 0.6).
  EXPECT_NEAR(l.arhsv1, 2.7, kTol);
  EXPECT_NEAR(l.arhsv2, 4.1, kTol);
}

TEST(FlowAssemf, RadialSourceIsTheExactIntegral) {
  // q over radii 0..2: node 1 gets q * int r N1 dr = 2q/3, node 2 4q/3.
  auto e = element(2.0);
  e.elqrch = 1.0;
  e.elqfix = 2.0; // a fixed-head source alone also counts
  const auto l = qmr::assemf(e, implicitStep(), true);
  EXPECT_NEAR(l.arhsv1, 2.0, kTol);
  EXPECT_NEAR(l.arhsv2, 4.0, kTol);
}

TEST(FlowAssemf, ImplicitStepKeepsOnlyStorageOnTheRight) {
  auto e = element(3.0);
  e.eltran = 5.0;
  e.elstor = 0.6;
  e.elleak = 0.7;
  e.hdold1 = 1.0; // column 1 of the right matrix
  const auto l = qmr::assemf(e, implicitStep(), false);
  EXPECT_NEAR(l.arhsv1, 0.6 * 3.0 / 3.0, kTol);
  EXPECT_NEAR(l.arhsv2, 0.6 * 3.0 / 6.0, kTol);
}

TEST(FlowAssemf, TwoElementsShareTheMiddleDiagonal) {
  // Steady conduction: T / L [1, -1; -1, 1] per element, source q L / 2.
  auto s = chain(2);
  const Weights steady{1.0, 1.0, 0.0, -0.0, 0.0};
  auto e = element(2.0);
  e.eltran = 4.0;
  e.elqrch = 1.5;
  qmr::addElement(s->band, 1, 1, qmr::assemf(e, steady, false));
  e.eltran = 6.0;
  qmr::addElement(s->band, 1, 2, qmr::assemf(e, steady, false));
  EXPECT_NEAR(s->band.astif(1, 2), 2.0, kTol);
  EXPECT_NEAR(s->band.astif(1, 3), -2.0, kTol);
  EXPECT_NEAR(s->band.astif(2, 1), -2.0, kTol);
  EXPECT_NEAR(s->band.astif(2, 2), 5.0, kTol);
  EXPECT_NEAR(s->band.astif(2, 3), -3.0, kTol);
  EXPECT_NEAR(s->band.astif(3, 1), -3.0, kTol);
  EXPECT_NEAR(s->band.astif(3, 2), 3.0, kTol);
  EXPECT_NEAR(s->band.aslod(1), 1.5, kTol);
  EXPECT_NEAR(s->band.aslod(2), 3.0, kTol);
  EXPECT_NEAR(s->band.aslod(3), 1.5, kTol);
}

TEST(FlowAssemf, LeakageAloneDrivesTheHeadToTheFixedHead) {
  // Steady, no conduction, no storage: leakage lambda (h_fix - h) = 0.
  auto s = chain(1);
  auto e = element(3.0);
  e.elleak = 2.0;
  e.elqfix = 5.0 * e.elleak;
  qmr::addElement(s->band, 1, 1,
                  qmr::assemf(e, {1.0, 1.0, 0.0, -0.0, 0.0}, false));
  solve(*s);
  EXPECT_NEAR(s->band.aslod(1), 5.0, 1e-12);
  EXPECT_NEAR(s->band.aslod(2), 5.0, 1e-12);
}

// The limiter on a single element; heads old (o, o) and new (n, n).
qmr::Leakage<double> limit(double hfix, double o, double n, double theta,
                           double elleak, double elqmax) {
  return qmr::sbleak<double>({n, n, o, o, hfix, elleak, elqmax}, theta);
}

TEST(FlowSbleak, CapsTheLeakageRate) {
  auto l = limit(10.0, 4.0, 4.0, 0.5, 2.0, 6.0);
  EXPECT_DOUBLE_EQ(l.hddiff, 6.0);
  EXPECT_DOUBLE_EQ(l.elleak, 1.0); // 6 / 6
  EXPECT_DOUBLE_EQ(l.hnavg, 4.0);
  EXPECT_DOUBLE_EQ(l.hoavg, 4.0);

  EXPECT_DOUBLE_EQ(limit(10.0, 4.0, 4.0, 0.5, 2.0, 20.0).elleak, 2.0);

  // Each level capped on its own: old 2 x 6 = 12 -> 6, new 2 x 2 = 4.
  l = limit(10.0, 4.0, 8.0, 0.5, 2.0, 6.0);
  EXPECT_DOUBLE_EQ(l.hddiff, 4.0);
  EXPECT_DOUBLE_EQ(l.elleak * l.hddiff, 5.0);

  // Fully implicit: only the new level counts, however far the old one is.
  EXPECT_DOUBLE_EQ(limit(10.0, -100.0, 4.0, 1.0, 2.0, 6.0).elleak, 1.0);
}

TEST(FlowSbleak, UpwardOrTinyDifferencesAreNotLimited) {
  for (double hfix : {3.0, 4.0})
    EXPECT_DOUBLE_EQ(limit(hfix, 4.0, 4.0, 0.5, 2.0, 1e-6).elleak, 2.0);
  // The threshold is the single-precision 1.0E-10.
  const double t = static_cast<double>(1.0E-10f);
  EXPECT_DOUBLE_EQ(limit(t, 0.0, 0.0, 1.0, 2.0, 1e-20).elleak, 1e-20 / t);
  // Below it.
  EXPECT_DOUBLE_EQ(limit(1.0E-10, 0.0, 0.0, 1.0, 2.0, 1e-20).elleak, 2.0);
}

// Conduction with T / L = 1 between nodes 1..3, no sources.
std::unique_ptr<State> threeNodes() {
  auto s = chain(2);
  double a[3][3] = {{0, 1, -1}, {-1, 2, -1}, {-1, 1, 0}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) s->band.astif(i, j) = a[i - 1][j - 1];
  return s;
}

TEST(FlowAsm, ThreeNodesWithReactions) {
  auto s = threeNodes();
  s->bc.nbt = 2;
  s->bc.idv(1) = 1;
  s->bc.valb(1) = 10.0;
  s->bc.idv(2) = 3;
  s->bc.valb(2) = 4.0;
  solve(*s);
  EXPECT_NEAR(s->band.aslod(1), 10.0, kTol);
  EXPECT_NEAR(s->band.aslod(2), 7.0, kTol);
  EXPECT_NEAR(s->band.aslod(3), 4.0, kTol);
  EXPECT_NEAR(s->bc.qvalb(1), 3.0, kTol);  // enters at node 1
  EXPECT_NEAR(s->bc.qvalb(2), -3.0, kTol); // leaves at node 3
}

TEST(FlowAsm, SolvesAsAssembledWithoutPrescribedValues) {
  auto s = threeNodes();
  s->band.astif(1, 2) = 2.0;
  s->band.astif(3, 2) = 2.0;
  s->band.aslod(1) = 1.0;
  s->band.aslod(3) = 1.0;
  s->bc.qvalb(1) = 99.0;
  solve(*s);
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(s->band.aslod(i), 1.0, kTol);
  EXPECT_EQ(s->bc.qvalb(1), 99.0);

  // One element: 2x + y = 5, x + 3y = 10.
  s = chain(1);
  s->band.astif(1, 2) = 2.0;
  s->band.astif(1, 3) = 1.0;
  s->band.astif(2, 1) = 1.0;
  s->band.astif(2, 2) = 3.0;
  s->band.aslod(1) = 5.0;
  s->band.aslod(2) = 10.0;
  solve(*s);
  EXPECT_NEAR(s->band.aslod(1), 1.0, kTol);
  EXPECT_NEAR(s->band.aslod(2), 3.0, kTol);
}

TEST(FlowAsm, ZeroPivotEndsTheRun) {
  // Node 1 prescribed, the elements beyond it without any property: the
  // free node 2 has an empty row.
  auto s = chain(2);
  s->bc.nbt = 1;
  s->bc.idv(1) = 1;
  s->bc.valb(1) = 1.0;
  EXPECT_THROW(solve(*s), qmr::StopRun);
  EXPECT_EQ(lines(s->io.listing.text()).back(),
            " ****ZERO PIVOT IN EQUATION     2 - SYSTEM CANNOT BE SOLVED****");
  EXPECT_EQ(s->io.diag, "zero pivot at equation 2: an element next to a free "
                        "node has zero length or zero properties");

  // The last diagonal, met only in the back substitution.
  s = chain(1);
  s->bc.nbt = 1;
  s->bc.idv(1) = 1;
  EXPECT_THROW(solve(*s), qmr::StopRun);
  EXPECT_NE(s->io.listing.text().find("ZERO PIVOT IN EQUATION     2"),
            std::string::npos);

  // Not finite (an element of zero length gives T / 0).
  s = chain(1);
  s->band.astif(1, 2) = std::numeric_limits<double>::infinity();
  EXPECT_THROW(solve(*s), qmr::StopRun);
  EXPECT_NE(s->io.listing.text().find("INVALID PIVOT IN EQUATION     1"),
            std::string::npos);

  // A small pivot is not a zero pivot.
  s = chain(1);
  s->band.astif(1, 2) = 1e-300;
  s->band.astif(2, 2) = 1.0;
  s->band.aslod(1) = 1e-300;
  EXPECT_NO_THROW(solve(*s));
  EXPECT_DOUBLE_EQ(s->band.aslod(1), 1.0);
}

TEST(FlowTstart, ClockWeightsAndHeader) {
  auto s = chain(2);
  s->clock.nts = 3;
  s->clock.timvec(1) = 1.0;
  s->clock.timvec(2) = 3.0;
  s->clock.timvec(3) = 7.0;
  for (int ip = 1; ip <= 3; ++ip) s->lev.hdold(ip) = ip * 2.0;
  double thetas[3];
  for (s->clock.its = 1; s->clock.its <= 3; ++s->clock.its) {
    s->band.astif(2, 3) = 5.0;
    s->band.aslod(3) = 5.0;
    s->res.pfxsum = 5.0;
    qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
    thetas[s->clock.its - 1] = s->clock.theta;
  }
  EXPECT_EQ(thetas[0], 1.0);
  EXPECT_EQ(thetas[1], 0.5);
  EXPECT_EQ(thetas[2], 0.5);
  EXPECT_EQ(s->clock.ttime, 7.0);
  EXPECT_EQ(s->clock.delta, 4.0);
  EXPECT_EQ(s->clock.ptime, 7.0);
  EXPECT_EQ(s->clock.thetm, 0.5);
  EXPECT_EQ(s->clock.thtm1, -0.5);
  EXPECT_EQ(s->res.pfxsum, 0.0);
  EXPECT_EQ(s->band.astif(2, 3), 0.0);
  EXPECT_EQ(s->band.aslod(3), 0.0);
  EXPECT_EQ(s->lev.hdnew(3), 6.0);

  // The last header, line by line.
  auto l = lines(s->io.listing.text());
  ASSERT_GE(l.size(), 15u);
  std::vector<std::string> last(l.end() - 15, l.end());
  const std::string pad(20, ' ');
  EXPECT_EQ(last[0], std::string(80, '*'));
  EXPECT_EQ(last[2], pad + "      TIME STEP NUMBER    3");
  EXPECT_EQ(last[5], pad + "      CURRENT TIME =  0.70000E+01");
  EXPECT_EQ(last[6], pad + "     PREVIOUS TIME =  0.30000E+01");
  EXPECT_EQ(last[7], pad + "         TIME STEP =  0.40000E+01");
  EXPECT_EQ(last[8], pad + "      INITIAL TIME =  0.00000E+00");
  EXPECT_EQ(last[9], pad + "      ELAPSED TIME =  0.70000E+01");
  EXPECT_EQ(last[10], pad + "             THETA =  0.50000E+00");
  EXPECT_EQ(last[12], pad + "      ****************************");
  EXPECT_EQ(last[14], "");

  // The implicit scheme throughout.
  s = chain(1);
  s->codes.ikall = 1;
  s->clock.timvec(1) = 1.0;
  s->clock.timvec(2) = 2.0;
  for (s->clock.its = 1; s->clock.its <= 2; ++s->clock.its)
    qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
  EXPECT_EQ(s->clock.theta, 1.0);
}

} // namespace
