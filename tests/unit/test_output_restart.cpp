// The restart file of a run: the final nodal values, which are the initial
// ones when the run has no time step at all.
#include <gtest/gtest.h>

#include "output/output.hpp"
#include "support.hpp"

namespace {

using qmrtest::lines;
using Lines = std::vector<std::string>;

std::unique_ptr<qmr::State> twoNodes(int nts) {
  auto s = qmrtest::memState("");
  s->io.restartOut.openMemory("restart");
  s->mesh.np = 2;
  s->mesh.ne = 1;
  s->mesh.ecoord(1) = 1.0;
  s->mesh.ecoord(2) = 3.0;
  s->lev.hdold(1) = 12.0; // the initial values
  s->lev.hdold(2) = 3.5;
  s->codes.iowrit = 1;
  s->clock.nts = nts;
  return s;
}

TEST(OutputRestart, RunWithoutStepsKeepsTheInitialValues) {
  // No step ran: nothing has become a new value, the values at the start
  // time are the final ones.
  auto s = twoNodes(0);
  s->clock.its = 1; // as the time-step loop leaves it when it does not run
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.restartOut.text()),
            (Lines{"    1  0.1000000E+01  0.1200000E+02",
                   "    2  0.3000000E+01  0.3500000E+01"}));
}

TEST(OutputRestart, FinalValuesOfTheLastStep) {
  auto s = twoNodes(1);
  s->lev.hdnew(1) = -0.25; // the step has just ended; the step output copies
  s->lev.hdnew(2) = 7.0;   // these into the old values as well
  qmr::outpro(s->io, s->mesh, s->clock, s->lev, s->obs);
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.restartOut.text()),
            (Lines{"    1  0.1000000E+01 -0.2500000E+00",
                   "    2  0.3000000E+01  0.7000000E+01"}));
}

} // namespace
