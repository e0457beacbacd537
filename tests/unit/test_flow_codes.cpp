// Option codes other than 0 and 1 in a flow step: the element loop treats any
// non-zero water-table or axisymmetric code as set, while the velocity file,
// the balance thickness and the stop on non-convergence look for the code 1.
#include <gtest/gtest.h>

#include <algorithm>

#include "drivers/drivers.hpp"
#include "fem/fem.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmr::State;
using qmrtest::lines;

// One steady element of length len between two prescribed heads, one
// iteration, a velocity block at the (only) step.
std::unique_ptr<State> element(double len, double h1, double h2) {
  auto s = qmrtest::flowChain(1, len);
  s->mesh.ecoord(1) = 1.0;
  s->mesh.ecoord(2) = 1.0 + len;
  s->clock.asign = 0.0;
  s->codes.iodarc = 1;
  qmrtest::fixHead(*s, 1, h1);
  qmrtest::fixHead(*s, 2, h2);
  s->clock.its = 1;
  return s;
}

bool hasLine(const State &s, const std::string &line) {
  auto l = lines(s.io.listing.text());
  return std::find(l.begin(), l.end(), line) != l.end();
}

TEST(FlowCodes, WaterTableCodeTwo) {
  // Base at 2, heads 10 and 6 held, start at 10 everywhere: the iteration
  // takes the thickness 10 - 2 = 8 from the first iterate, so 8 x 4 = 32
  // passes. Node 2 moves by 4 > 0.01: not converged.
  auto s = element(1.0, 10.0, 6.0);
  s->codes.i2dwt = 2;
  s->fprop.ebott(1) = 2.0;
  s->lev.hdold(1) = s->lev.hdold(2) = 10.0;
  qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
  qmr::drivef(*s);
  EXPECT_TRUE(hasLine(*s, "     1       0.10000E+02       0.32000E+02"
                          "       0.32000E+02       0.32000E+02"));
  // Code 2 is not the water-table code 1 of the velocity file: the record
  // carries ebott itself (2), not the saturated thickness (8 - 2 = 6); the
  // velocity is conductivity x width x gradient, 1 x 4 / 1.
  EXPECT_EQ(lines(s->io.velocity.text()),
            (std::vector<std::string>{"    1  0.4000000E+01  0.2000000E+01  "
                                      "0.0000000E+00  0.0000000E+00"}));
  EXPECT_NE(s->io.listing.text().find("COMPLETED"), std::string::npos);

  // The code 1 stops the same step.
  s = element(1.0, 10.0, 6.0);
  s->codes.i2dwt = 1;
  s->fprop.ebott(1) = 2.0;
  s->lev.hdold(1) = s->lev.hdold(2) = 10.0;
  qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
  EXPECT_THROW(qmr::drivef(*s), qmr::StopRun);
  EXPECT_EQ(lines(s->io.listing.text()).back(),
            " ****SOLUTION NOT CONVERGED - PROGRAM TERMINATED****");
}

TEST(FlowCodes, AxisymmetricCodeTwo) {
  // Radii 1 and 3, heads 10 and 6 (h = 12 - 2r), fixed head 8 beyond an
  // aquitard of coefficient 1: the leakage per radian is
  // int_1^3 (8 - h) r dr = int_1^3 (2r - 4) r dr = 4/3, for code 1 and 2.
  for (int code : {1, 2}) {
    auto s = element(2.0, 10.0, 6.0);
    s->codes.iaxsym = code;
    s->fprop.eleak(1) = 1.0;
    s->fprop.ehfix(1) = 8.0;
    s->lev.hdold(1) = 10.0;
    s->lev.hdold(2) = 6.0;
    qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
    qmr::drivef(*s);
    EXPECT_TRUE(hasLine(
        *s,
        "   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      =  0.13333E+01"))
        << code;
    // Only code 1 turns the velocity-file leakage into the radius-weighted
    // mean (4/3) / (L x mean radius) = 1/3; code 2 leaves the value at the
    // mean head, where the difference is 0.
    const std::string leak = code == 1 ? "0.3333333E+00" : "0.0000000E+00";
    EXPECT_EQ(
        lines(s->io.velocity.text()),
        (std::vector<std::string>{"    1  0.2000000E+01  0.1000000E+01  " +
                                  leak + "  0.0000000E+00"}))
        << code;
  }
}

} // namespace
