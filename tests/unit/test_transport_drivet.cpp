// The transport step: iteration, convergence, relaxation, flux nodes, the
// concentration table and the profile store.
#include <gtest/gtest.h>

#include <string>

#include "drivers/drivers.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmr::State;
using qmrtest::lines;

// A state as the step start leaves it: the band cleared, hdnew = hdold.
void startStep(State &s) {
  for (int i = 1; i <= s.mesh.np; ++i) {
    s.lev.hdnew(i) = s.lev.hdold(i);
    s.band.aslod(i) = 0.0;
    for (int j = 1; j <= 3; ++j) s.band.astif(i, j) = 0.0;
  }
}

// ne unit elements from x = 0 with unit diffusion, thickness, porosity and
// retardation; one fully implicit unit step.
std::unique_ptr<State> chain(int ne, bool steady) {
  auto s = qmrtest::bandChain(ne);
  s->clock.its = 1;
  s->clock.nts = 1;
  s->obs.itprof = 1;
  s->clock.theta = 1.0;
  s->clock.thetm = 0.0;
  s->clock.thtm1 = -0.0;
  s->clock.delta = 1.0;
  s->clock.asign = steady ? 0.0 : 1.0;
  s->crit.nitmax = 1;
  s->crit.toler = 0.0;
  s->crit.relax = 1.0;
  for (int ie = 1; ie <= ne; ++ie) {
    s->mesh.elen(ie) = 1.0;
    s->tprop.thick(ie) = 1.0;
    s->tprop.poros(ie) = 1.0;
    s->tprop.retar(ie) = 1.0;
    s->tprop.difus(ie) = 1.0;
  }
  for (int ip = 1; ip <= ne + 1; ++ip) s->mesh.ecoord(ip) = ip - 1.0;
  return s;
}

// Steady diffusion between 10 at node 1 and 4 at node 3: (10, 7, 4).
std::unique_ptr<State> steadyLine() {
  auto s = chain(2, true);
  s->bc.nbt = 2;
  s->bc.idv(1) = 1;
  s->bc.valb(1) = 10.0;
  s->bc.idv(2) = 3;
  s->bc.valb(2) = 4.0;
  startStep(*s);
  return s;
}

const std::string kDone =
    "                     ***** TIME STEP  1 OF  1 COMPLETED *****";

TEST(TransportStep, DefaultCriteriaOneSolveNoMessage) {
  auto s = steadyLine();
  ASSERT_NO_THROW(qmr::drivet(*s));
  const std::vector<std::string> want = {
      "***** ITERATION   1 OF MAXIMUM   1 *****",
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.10000E+02 AT NODE     1",
      "",
      "",
      "  SOLUTION VECTOR ASLOD(ID)",
      "",
      " NODE     E-COORD   CONCENTRATION",
      " ----     -------   -------------",
      "    1 0.00000E+00      0.10000E+02",
      "    2 0.10000E+01      0.70000E+01",
      "    3 0.20000E+01      0.40000E+01",
      kDone,
      kDone};
  EXPECT_EQ(lines(s->io.lst().text()), want);
  EXPECT_NEAR(s->lev.hdnew(2), 7.0, 1e-12);
  EXPECT_EQ(s->lev.hdnew(1), 10.0); // prescribed nodes hold their values
  EXPECT_EQ(s->lev.hdnew(3), 4.0);
  EXPECT_EQ(s->lev.hdold(2), 0.0); // the old level is left to the step output
  // The band is left cleared.
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(s->band.aslod(i), 0.0);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(s->band.astif(i, j), 0.0);
  }
}

TEST(TransportStep, ZeroToleranceWithWaterTableCodeStops) {
  auto s = steadyLine();
  s->codes.i2dwt = 1;
  s->crit.nitmax = 3;
  EXPECT_THROW(qmr::drivet(*s), qmr::StopRun);
  const auto out = lines(s->io.lst().text());
  ASSERT_EQ(out.size(), 7u); // three reports, then the failure line
  EXPECT_EQ(out[0], "***** ITERATION   1 OF MAXIMUM   3 *****");
  EXPECT_EQ(out[2], "***** ITERATION   2 OF MAXIMUM   3 *****");
  EXPECT_EQ(out[4], "***** ITERATION   3 OF MAXIMUM   3 *****");
  // The same solution every time: no change after the first iteration.
  EXPECT_EQ(
      out[5],
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.00000E+00 AT NODE     0");
  EXPECT_EQ(out.back(), " ****SOLUTION NOT CONVERGED - PROGRAM TERMINATED****");
}

TEST(TransportStep, NoIterationAllowed) {
  // With the water-table code the step cannot count as converged.
  auto s = steadyLine();
  s->codes.i2dwt = 1;
  s->crit.nitmax = 0;
  EXPECT_THROW(qmr::drivet(*s), qmr::StopRun);
  EXPECT_EQ(lines(s->io.lst().text()),
            std::vector<std::string>{
                " ****SOLUTION NOT CONVERGED - PROGRAM TERMINATED****"});

  // Without it the old values are printed as the result.
  auto t = steadyLine();
  t->crit.nitmax = 0;
  t->lev.hdold(2) = 3.0;
  startStep(*t);
  ASSERT_NO_THROW(qmr::drivet(*t));
  const auto out = lines(t->io.lst().text());
  ASSERT_EQ(out.size(), 11u);
  EXPECT_EQ(out[2], "  SOLUTION VECTOR ASLOD(ID)");
  EXPECT_EQ(out[7], "    2 0.10000E+01      0.30000E+01");
}

TEST(TransportStep, ConvergesOnTheSecondIteration) {
  auto s = steadyLine();
  s->codes.i2dwt = 1;
  s->crit.toler = static_cast<double>(1.0E-6f);
  s->crit.nitmax = 5;
  ASSERT_NO_THROW(qmr::drivet(*s));
  const auto out = lines(s->io.lst().text());
  ASSERT_EQ(out.size(), 15u);
  EXPECT_EQ(out[0], "***** ITERATION   1 OF MAXIMUM   5 *****");
  EXPECT_EQ(
      out[1],
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.10000E+02 AT NODE     1");
  EXPECT_EQ(out[2], "***** ITERATION   2 OF MAXIMUM   5 *****");
  EXPECT_EQ(
      out[3],
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.00000E+00 AT NODE     0");
  EXPECT_EQ(out[6], "  SOLUTION VECTOR ASLOD(ID)");
  EXPECT_EQ(out[13], kDone);
  EXPECT_EQ(out[14], kDone);
}

TEST(TransportStep, RelaxationMovesHalfWayEachIteration) {
  auto s = steadyLine();
  s->crit.relax = 0.5;
  s->crit.nitmax = 2;
  qmr::drivet(*s);
  // After one iteration half of (10, 7, 4); after two, three quarters.
  EXPECT_NEAR(s->lev.hdnew(1), 7.5, 1e-12);
  EXPECT_NEAR(s->lev.hdnew(2), 5.25, 1e-12);
  EXPECT_NEAR(s->lev.hdnew(3), 3.0, 1e-12);
  const auto out = lines(s->io.lst().text());
  EXPECT_EQ(
      out[1],
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.10000E+02 AT NODE     1");
  EXPECT_EQ(
      out[3],
      "      MAXIMUM CONCENTRATION DIFFERENCE OF  0.50000E+01 AT NODE     1");
  EXPECT_EQ(out[10], "    1 0.00000E+00      0.75000E+01");
}

TEST(TransportStep, FluxOfConcentrationEntersWhole) {
  // One element of length 2 with storage only, nothing at the start; 3 per
  // unit time of solute enter at node 1. Consistent mass (2/3, 1/3; 1/3,
  // 2/3) c = (3, 0) gives c = (6, -3), holding exactly the 3 that entered.
  auto s = chain(1, false);
  s->mesh.elen(1) = 2.0;
  s->tprop.difus(1) = 0.0;
  s->mesh.ecoord(2) = 2.0;
  s->bc.nsb = 1;
  s->bc.isbv(1) = 1;
  s->bc.bslod(1) = 3.0;
  s->bc.bslqw(1) = 0.0;
  startStep(*s);
  qmr::drivet(*s);
  EXPECT_NEAR(s->lev.hdnew(1), 6.0, 1e-12);
  EXPECT_NEAR(s->lev.hdnew(2), -3.0, 1e-12);
}

TEST(TransportStep, FluidFluxRemovesSoluteAtTheNodeConcentration) {
  // Same element, uniform 1 at the start, centred in time; fluid leaves at
  // node 1 at rate 1 and solute enters there at rate 0.25. The element then
  // loses 1 x (c1_old + c1_new) / 2 - 0.25 over the step:
  // (7/6, 1/3; 1/3, 2/3) c = (1 - 0.5 + 0.25, 1) gives c = (0.25, 1.375).
  auto s = chain(1, false);
  s->mesh.elen(1) = 2.0;
  s->tprop.difus(1) = 0.0;
  s->mesh.ecoord(2) = 2.0;
  s->clock.theta = 0.5;
  s->clock.thetm = 0.5;
  s->clock.thtm1 = -0.5;
  s->bc.nsb = 1;
  s->bc.isbv(1) = 1;
  s->bc.bslod(1) = 0.25;
  s->bc.bslqw(1) = 1.0;
  s->lev.hdold(1) = s->lev.hdold(2) = 1.0;
  startStep(*s);
  qmr::drivet(*s);
  EXPECT_NEAR(s->lev.hdnew(1), 0.25, 1e-12);
  EXPECT_NEAR(s->lev.hdnew(2), 1.375, 1e-12);
  const double massOld = 2.0, massNew = (s->lev.hdnew(1) + s->lev.hdnew(2));
  EXPECT_NEAR(massOld - massNew, (1.0 + s->lev.hdnew(1)) / 2 - 0.25, 1e-12);
}

TEST(TransportStep, AtMostOneProfilePerStep) {
  auto s = steadyLine();
  s->clock.nts = 3;
  s->obs.ntprof = 2;
  s->obs.ltprof(1) = 2;
  s->obs.ltprof(2) = 2; // the same step twice: one profile per call
  qmr::drivet(*s);      // step 1: not a profile step
  EXPECT_EQ(s->obs.itprof, 1);
  EXPECT_EQ(s->obs.tmprof(1, 2), 0.0);

  s->clock.its = 2;
  startStep(*s);
  qmr::drivet(*s);
  EXPECT_EQ(s->obs.itprof, 2);
  EXPECT_EQ(s->obs.tmprof(1, 1), 10.0);
  EXPECT_NEAR(s->obs.tmprof(1, 2), 7.0, 1e-12);
  EXPECT_EQ(s->obs.tmprof(1, 3), 4.0);
  EXPECT_EQ(s->obs.tmprof(2, 2), 0.0);
  EXPECT_EQ(lines(s->io.lst().text()).back(),
            "                     ***** TIME STEP  2 OF  3 COMPLETED *****");

  // All profiles taken: later steps store nothing.
  s->obs.itprof = 3;
  s->clock.its = 3;
  startStep(*s);
  qmr::drivet(*s);
  EXPECT_EQ(s->obs.itprof, 3);
}

} // namespace
