// The flow step: iteration, convergence, results, velocity file, flux table,
// flux-file rows, mass balance and profiles, on small hand-built meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "drivers/drivers.hpp"
#include "fem/fem.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmr::State;
using qmrtest::count;
using qmrtest::lines;

// ne confined elements of length len, conductivity x width 1, thickness 1,
// no storage; one linear iteration per step, reports on every step.
const auto flow = &qmrtest::flowChain;
const auto fix = &qmrtest::fixHead;

void heads(State &s, std::initializer_list<double> h) {
  int ip = 1;
  for (double v : h) s.lev.hdold(ip++) = v;
}

void step(State &s) {
  qmr::tstart(s.clock, s.codes, s.mesh, s.band, s.lev, s.res, s.io);
  qmr::drivef(s);
}

void run(State &s) {
  for (s.clock.its = 1; s.clock.its <= s.clock.nts; ++s.clock.its) step(s);
}

// The number after a label of the listing (the last occurrence).
double value(const State &s, const std::string &label) {
  const std::string &t = s.io.listing.text();
  auto at = t.rfind(label);
  EXPECT_NE(at, std::string::npos) << label;
  if (at == std::string::npos) return 0.0;
  return std::strtod(t.c_str() + at + label.size(), nullptr);
}

const std::string kHeadIn = "FROM PRESCRIBED HEAD NODES = ";
const std::string kFluxIn = "FROM PRESCRIBED FLUX NODES = ";
const std::string kRechIn = "FROM RECHARGE CONDITION    = ";
const std::string kLeakIn = "FROM AQUITARD LEAKAGE      = ";
const std::string kStored = "HELD IN STORAGE                   = ";
const std::string kOut = "(MASS IN - MASS INCREASE)   = ";

TEST(FlowStep, SteadyRechargeGivesTheParabolaAndBalances) {
  // h = q x (4 - x) / (2 T) with q = 2, T = 1: nodally exact.
  auto s = flow(4, 1.0);
  s->clock.asign = 0.0;
  for (int ie = 1; ie <= 4; ++ie) s->fprop.eqrch(ie) = 2.0;
  fix(*s, 1, 0.0);
  fix(*s, 5, 0.0);
  run(*s);
  const double expect[] = {0.0, 3.0, 4.0, 3.0, 0.0};
  for (int ip = 1; ip <= 5; ++ip) {
    EXPECT_NEAR(s->lev.hdnew(ip), expect[ip - 1], 1e-12);
    EXPECT_EQ(s->lev.hdold(ip), s->lev.hdnew(ip));
  }
  // Half the recharge leaves at each end.
  EXPECT_NEAR(s->bc.qvalb(1), -4.0, 1e-12);
  EXPECT_NEAR(s->bc.qvalb(2), -4.0, 1e-12);
  EXPECT_NEAR(value(*s, kHeadIn), -8.0, 1e-12);
  EXPECT_NEAR(value(*s, kRechIn), 8.0, 1e-12);
  EXPECT_EQ(value(*s, kStored), 0.0);
  EXPECT_NEAR(value(*s, kOut), 0.0, 1e-12);
  auto l = lines(s->io.listing.text());
  EXPECT_NE(std::find(l.begin(), l.end(), "    3 0.20000E+01      0.40000E+01"),
            l.end());
  EXPECT_EQ(count(s->io.listing.text(),
                  "                     ***** TIME STEP  1 OF  1 COMPLETED "
                  "*****\n"),
            2);
}

TEST(FlowStep, ToleranceFollowsTheRangeOfTheSolution) {
  struct Case {
    double h1, h2, toler;
  } cases[] = {{0.0, 50.0, 0.05}, {-2.0, -1.0, 0.002}, {0.0, 1e-4, 1e-6}};
  for (const auto &c : cases) {
    auto s = flow(1, 1.0);
    fix(*s, 1, c.h1);
    fix(*s, 2, c.h2);
    run(*s);
    EXPECT_NEAR(s->crit.toler, c.toler, c.toler * 1e-6);
  }
}

TEST(FlowStep, RelaxationBlendsWithThePreviousIterate) {
  auto s = flow(1, 1.0);
  s->crit.relax = 0.75;
  heads(*s, {10.0, 10.0});
  fix(*s, 1, 14.0);
  fix(*s, 2, 14.0);
  run(*s);
  EXPECT_DOUBLE_EQ(s->lev.hdnew(1), 13.0);
  EXPECT_DOUBLE_EQ(s->lev.hdold(2), 13.0);
}

TEST(FlowStep, IterationReports) {
  auto s = flow(2, 1.0);
  s->crit.nitmax = 2;
  heads(*s, {10.0, 10.0, 10.0});
  fix(*s, 1, 10.0);
  fix(*s, 3, 4.0);
  run(*s);
  auto l = lines(s->io.listing.text());
  auto it =
      std::find(l.begin(), l.end(), "***** ITERATION   1 OF MAXIMUM   2 *****");
  ASSERT_NE(it, l.end());
  EXPECT_EQ(it[1],
            "      MAXIMUM HEAD DIFFERENCE OF  0.60000E+01 AT NODE     3");
  // The second solution changes nothing: converged, no node to name.
  EXPECT_EQ(it[2], "***** ITERATION   2 OF MAXIMUM   2 *****");
  EXPECT_EQ(it[3],
            "      MAXIMUM HEAD DIFFERENCE OF  0.00000E+00 AT NODE     0");
  EXPECT_EQ(count(s->io.listing.text(), "***** ITERATION"), 2);
}

TEST(FlowStep, PrintIntervalSelectsTheReports) {
  for (int istep : {3, 0}) {
    auto s = flow(1, 1.0);
    s->codes.istep = istep;
    s->clock.nts = 4;
    for (int i = 1; i <= 4; ++i) s->clock.timvec(i) = i;
    fix(*s, 1, 1.0);
    fix(*s, 2, 0.0);
    run(*s);
    const std::string &t = s->io.listing.text();
    const int shown = istep == 3 ? 1 : 0;
    EXPECT_EQ(count(t, "SOLUTION VECTOR ASLOD(ID)"), shown);
    EXPECT_EQ(count(t, "MASS BALANCE COMPUTATION"), shown);
    EXPECT_EQ(count(t, "***** ITERATION"), shown);
    EXPECT_EQ(count(t, "RESULTING FLUX AT PRESCRIBED HEAD NODES"), 4);
    EXPECT_EQ(count(t, "***** TIME STEP  4 OF  4 COMPLETED *****"), 2);
  }
}

TEST(FlowStep, DryElementAndNegativeThicknessInTheVelocityFile) {
  // Water table; element 1 has its base at 5, far above the heads.
  auto s = flow(2, 1.0);
  s->codes.i2dwt = 1;
  s->clock.asign = 0.0;
  s->crit.nitmax = 3;
  s->codes.iodarc = 1;
  s->fprop.ebott(1) = 5.0;
  s->fprop.ebott(2) = 0.0;
  heads(*s, {2.0, 3.0, 2.0});
  fix(*s, 1, 2.0);
  fix(*s, 3, 2.0);
  run(*s);
  EXPECT_EQ(count(s->io.listing.text(),
                  "\n***** ELEMENT NO.   1 HAS GONE DRY !! *****\n"),
            2); // once per iteration
  EXPECT_NEAR(s->lev.hdnew(2), 2.0, 1e-12);
  auto v = lines(s->io.velocity.text());
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(
      v[0],
      "    1  0.0000000E+00 -0.3000000E+01  0.0000000E+00  0.0000000E+00");
}

TEST(FlowStep, NonConvergenceStopsOnlyNonLinearRuns) {
  auto s = flow(1, 1.0);
  s->codes.i2dwt = 1;
  s->crit.nitmax = 0;
  fix(*s, 1, 1.0);
  EXPECT_THROW(run(*s), qmr::StopRun);
  EXPECT_EQ(lines(s->io.listing.text()).back(),
            " ****SOLUTION NOT CONVERGED - PROGRAM TERMINATED****");
  EXPECT_EQ(count(s->io.listing.text(), "RESULTING FLUX"), 0);

  // Limited leakage makes a confined run non-linear too.
  s = flow(1, 1.0);
  s->fprop.ilqmax = 1;
  fix(*s, 1, 1.0);
  EXPECT_THROW(run(*s), qmr::StopRun);

  // A linear run goes on with what it has.
  s = flow(1, 1.0);
  s->crit.nitmax = 0;
  heads(*s, {3.0, 3.0});
  fix(*s, 1, 1.0);
  run(*s);
  EXPECT_EQ(s->lev.hdnew(1), 3.0);
  EXPECT_EQ(count(s->io.listing.text(), "COMPLETED"), 2);
}

TEST(FlowStep, VelocityFileRecords) {
  // Flat heads: no gradient, no leakage; the zeros carry no sign.
  auto s = flow(1, 2.0);
  s->fprop.etran(1) = 3.0;
  s->fprop.eqrch(1) = 0.25;
  s->codes.iodarc = 2;
  s->clock.nts = 2;
  s->clock.timvec(2) = 2.0;
  heads(*s, {5.0, 5.0});
  fix(*s, 1, 5.0);
  fix(*s, 2, 5.0);
  run(*s);
  const std::string flat =
      "    1  0.0000000E+00  0.1000000E+01  0.0000000E+00  0.2500000E+00";
  EXPECT_EQ(lines(s->io.velocity.text()),
            (std::vector<std::string>{flat, flat}));

  // Flow from node 1 to node 2 is positive: -(3 x (4 - 10) / 2) = 9.
  s = flow(1, 2.0);
  s->fprop.etran(1) = 3.0;
  s->codes.iodarc = 1; // the last step only
  s->clock.nts = 2;
  s->clock.timvec(2) = 2.0;
  heads(*s, {10.0, 4.0});
  fix(*s, 1, 10.0);
  fix(*s, 2, 4.0);
  run(*s);
  EXPECT_EQ(lines(s->io.velocity.text()),
            (std::vector<std::string>{"    1  0.9000000E+01  0.1000000E+01  "
                                      "0.0000000E+00  0.0000000E+00"}));
}

TEST(FlowStep, LimitedLeakageInTheVelocityFileAndTheBalance) {
  // Fixed head 10 beyond the aquitard, coefficient 2, cap 6; heads rise
  // from 4 to 8 in a centred step: old rate 12 capped to 6, new rate 4,
  // mean 5 per unit length.
  auto s = flow(1, 2.0);
  s->fprop.eleak(1) = 2.0;
  s->fprop.ehfix(1) = 10.0;
  s->fprop.eqmax(1) = 6.0;
  s->fprop.iqmax(1) = 1;
  s->fprop.ilqmax = 1;
  s->crit.nitmax = 5;
  s->codes.iodarc = 2;
  s->clock.nts = 2;
  s->clock.its = 2;
  s->clock.timvec(2) = 2.0;
  s->clock.ptime = 1.0;
  heads(*s, {4.0, 4.0});
  fix(*s, 1, 8.0);
  fix(*s, 2, 8.0);
  step(*s);
  EXPECT_EQ(s->clock.theta, 0.5);
  EXPECT_EQ(lines(s->io.velocity.text()),
            (std::vector<std::string>{"    1  0.0000000E+00  0.1000000E+01  "
                                      "0.5000000E+01  0.0000000E+00"}));
  // 5 x length 2 x step 1 enters and leaves again at the fixed nodes.
  EXPECT_NEAR(value(*s, kLeakIn), 10.0, 1e-12);
  EXPECT_NEAR(value(*s, kHeadIn), -10.0, 1e-12);
  EXPECT_NEAR(value(*s, kOut), 0.0, 1e-12);
}

TEST(FlowStep, StorageInTheBalance) {
  // Both nodes rise by 1; storage 0.1 x thickness 2 + 0.1 = 0.3.
  for (int axsym : {0, 1}) {
    auto s = flow(1, 2.0);
    s->fprop.espec(1) = 0.1;
    s->fprop.estor(1) = 0.1;
    s->fprop.ebott(1) = 2.0;
    s->codes.iaxsym = axsym;
    s->mesh.ecoord(1) = 1.0; // radii 1 and 3: int r dr = 4
    s->mesh.ecoord(2) = 3.0;
    heads(*s, {5.0, 5.0});
    fix(*s, 1, 6.0);
    fix(*s, 2, 6.0);
    run(*s);
    const double stored = axsym == 0 ? 0.3 * 2.0 : 0.3 * 4.0;
    EXPECT_NEAR(value(*s, kStored), stored, 1e-12);
    EXPECT_NEAR(s->bc.qvalb(1) + s->bc.qvalb(2), stored, 1e-12);
    EXPECT_NEAR(value(*s, kOut), 0.0, 1e-12);
  }
}

TEST(FlowStep, FluxTableAndFluxFileRows) {
  // Conduction 0.5 over unit elements, heads 10, 7, 4: rate 1.5 enters at
  // node 1 and leaves at node 3; steps of length 2.
  auto s = flow(2, 1.0);
  for (int ie = 1; ie <= 2; ++ie) s->fprop.etran(ie) = 0.5;
  s->codes.iflux = 1;
  s->clock.nts = 2;
  s->clock.timvec(1) = 2.0;
  s->clock.timvec(2) = 4.0;
  heads(*s, {10.0, 7.0, 4.0});
  fix(*s, 1, 10.0);
  fix(*s, 3, 4.0);
  run(*s);
  auto l = lines(s->io.listing.text());
  EXPECT_NE(std::find(l.begin(), l.end(),
                      "     1       0.10000E+02       0.30000E+01       "
                      "0.15000E+01       0.60000E+01"),
            l.end());
  EXPECT_NE(std::find(l.begin(), l.end(),
                      "     3       0.40000E+01      -0.30000E+01      "
                      "-0.15000E+01      -0.60000E+01"),
            l.end());
  EXPECT_EQ(s->res.accu2(1, 1), 3.0);
  EXPECT_EQ(s->res.accu2(2, 2), -6.0);
  EXPECT_EQ(lines(s->io.flux.text()),
            (std::vector<std::string>{
                "         1  0.2000E+01  0.3010E+00  0.1500E+01 -0.1500E+01",
                "         2  0.4000E+01  0.6021E+00  0.1500E+01 -0.1500E+01"}));
}

TEST(FlowStep, FluxRowAtTimeZeroAndWithoutPrescribedHeads) {
  auto s = flow(1, 1.0);
  s->codes.iflux = 1;
  s->clock.tima = s->clock.ptime = -2.0;
  s->clock.timvec(1) = 0.0;
  s->bc.nsb = 1; // the head comes from a prescribed flux alone
  s->bc.isbv(1) = 1;
  s->bc.bslod(1) = 0.0;
  s->fprop.estor(1) = 1.0;
  run(*s);
  EXPECT_EQ(s->io.flux.text(), "         1  0.0000E+00  0.0000E+00\n");
  auto l = lines(s->io.listing.text());
  auto it = std::find(l.begin(), l.end(),
                      "  ----   ---------------    --------------      "
                      "--------------     -----------");
  ASSERT_NE(it, l.end());
  EXPECT_EQ(it[1], ""); // the heading, no node lines
  EXPECT_EQ(it[2], "");
  EXPECT_EQ(it[3], "           MASS BALANCE COMPUTATION");
}

TEST(FlowStep, PrescribedFluxIsReseededEveryIteration) {
  // 2 enters at node 2 and flows through T / L = 1 to the fixed node 1.
  auto s = flow(1, 1.0);
  s->clock.asign = 0.0;
  s->crit.nitmax = 3;
  s->bc.nsb = 1;
  s->bc.isbv(1) = 2;
  s->bc.bslod(1) = 2.0;
  fix(*s, 1, 0.0);
  run(*s);
  EXPECT_EQ(count(s->io.listing.text(), "***** ITERATION"), 2);
  EXPECT_NEAR(s->lev.hdnew(2), 2.0, 1e-12);
  EXPECT_NEAR(value(*s, kFluxIn), 2.0, 1e-12);
  EXPECT_NEAR(value(*s, kHeadIn), -2.0, 1e-12);
}

TEST(FlowStep, ProfilesOfTheStep) {
  auto s = flow(1, 1.0);
  s->clock.nts = 2;
  s->clock.timvec(2) = 2.0;
  s->obs.ntprof = 3;
  s->obs.ltprof(1) = 1;
  s->obs.ltprof(2) = 1; // two profiles at one step
  s->obs.ltprof(3) = 2;
  s->obs.itprof = 1;
  fix(*s, 1, 1.0);
  fix(*s, 2, 1.0);
  for (s->clock.its = 1; s->clock.its <= 2; ++s->clock.its) {
    s->bc.valb(1) = s->bc.valb(2) = s->clock.its;
    step(*s);
  }
  EXPECT_EQ(s->obs.itprof, 4);
  EXPECT_EQ(s->obs.tmprof(1, 2), 1.0);
  EXPECT_EQ(s->obs.tmprof(2, 2), 1.0);
  EXPECT_EQ(s->obs.tmprof(3, 2), 2.0);

  // Out of order: the earlier step is never reached and blocks the rest.
  s = flow(1, 1.0);
  s->clock.nts = 2;
  s->clock.timvec(2) = 2.0;
  s->obs.ntprof = 2;
  s->obs.ltprof(1) = 2;
  s->obs.ltprof(2) = 1;
  s->obs.itprof = 1;
  fix(*s, 1, 1.0);
  run(*s);
  EXPECT_EQ(s->obs.itprof, 2);
  EXPECT_EQ(s->obs.tmprof(2, 1), 0.0);

  // All twenty at the one step: no entry beyond the last is examined.
  s = flow(1, 1.0);
  s->obs.ntprof = 20;
  for (int k = 1; k <= 20; ++k) s->obs.ltprof(k) = 1;
  s->obs.itprof = 1;
  fix(*s, 1, 1.0);
  run(*s);
  EXPECT_EQ(s->obs.itprof, 21);
  EXPECT_EQ(s->obs.tmprof(20, 1), 1.0);
}

} // namespace
