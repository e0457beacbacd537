// Step output (observation rows) and end-of-run output (profile table, flux
// history, restart file, completion message).
#include <gtest/gtest.h>

#include "output/output.hpp"
#include "support.hpp"

namespace {

using qmr::State;
using qmrtest::lines;
using Lines = std::vector<std::string>;

std::unique_ptr<State> nodes(int np) {
  auto s = qmrtest::memState("");
  s->mesh.np = np;
  s->mesh.ne = np - 1;
  s->io.restartOut.openMemory("restart");
  return s;
}

TEST(OutputOutpro, ObservationRow) {
  auto s = nodes(6);
  const double v[] = {0.0005, -0.0009, 0.001, 0.002, -0.002, 0.12345 - 1e-12};
  for (int ip = 1; ip <= 6; ++ip) {
    s->lev.hdnew(ip) = v[ip - 1];
    s->obs.ldobs(ip) = 7 - ip; // in the order of the heading, not of the nodes
  }
  s->obs.nobs = 6;
  s->clock.its = 3;
  s->clock.ttime = 100.0;
  qmr::outpro(s->io, s->mesh, s->clock, s->lev, s->obs);
  // Below the single-precision 1.0E-3 shows zero; the last value rounds up
  // in single precision (0.12345000356...).
  EXPECT_EQ(s->io.graphic.text(),
            "         3  0.1000E+03  0.2000E+01  0.1235E+00 -0.2000E-02"
            "  0.2000E-02  0.0000E+00  0.0000E+00  0.0000E+00\n");
  for (int ip = 1; ip <= 6; ++ip) EXPECT_EQ(s->lev.hdold(ip), v[ip - 1]);
}

TEST(OutputOutpro, RowWithoutObservationNodes) {
  auto s = nodes(2);
  s->clock.its = 1;
  s->clock.ttime = 1.0; // a steady-state run
  qmr::outpro(s->io, s->mesh, s->clock, s->lev, s->obs);
  s->clock.its = 2;
  s->clock.ttime = 0.0; // no logarithm: 0.0 in its column
  qmr::outpro(s->io, s->mesh, s->clock, s->lev, s->obs);
  s->clock.its = 3;
  s->clock.ttime = -5.0;
  qmr::outpro(s->io, s->mesh, s->clock, s->lev, s->obs);
  EXPECT_EQ(lines(s->io.graphic.text()),
            (Lines{"         1  0.1000E+01  0.0000E+00",
                   "         2  0.0000E+00  0.0000E+00",
                   "         3 -0.5000E+01  0.0000E+00"}));
}

TEST(OutputOutobs, ProfileTable) {
  auto s = nodes(3);
  s->mesh.ecoord(1) = 0.0;
  s->mesh.ecoord(2) = -1.0;
  s->mesh.ecoord(3) = 100.0;
  s->obs.ntprof = 3;
  s->obs.ltprof(1) = 2;
  s->obs.ltprof(2) = 5;
  s->obs.ltprof(3) = 9; // never stored: zeros
  s->obs.tmprof(1, 1) = 1.0E-16;
  s->obs.tmprof(1, 2) = 2.0E-15;
  s->obs.tmprof(1, 3) = -12.5;
  s->obs.tmprof(2, 1) = -1.0E-16;
  s->obs.tmprof(2, 2) = 3.0;
  s->obs.tmprof(2, 3) = 1.0E-3;
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.graphic.text()),
            (Lines{"", "",
                   "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  2)  PROF.(  "
                   "5)  PROF.(  9)  PROF.(",
                   " ",
                   "         1  0.0000E+00  0.0000E+00  0.0000E+00  "
                   "0.0000E+00  0.0000E+00",
                   "         2 -0.1000E+01  0.0000E+00  0.2000E-14  "
                   "0.3000E+01  0.0000E+00",
                   "         3  0.1000E+03  0.2000E+01 -0.1250E+02  "
                   "0.1000E-02  0.0000E+00",
                   ""}));
  EXPECT_EQ(s->obs.itprof, 0);            // the profiles are counted locally
  EXPECT_EQ(s->io.flux.text(), "");       // no flux file
  EXPECT_EQ(s->io.restartOut.text(), ""); // no restart file
}

TEST(OutputOutobs, WithoutProfiles) {
  auto s = nodes(1);
  s->mesh.ecoord(1) = 10.0;
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.graphic.text()),
            (Lines{"", "", "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(", " ",
                   "         1  0.1000E+02  0.1000E+01", ""}));
}

TEST(OutputOutobs, FluxHistoryRestartAndCompletion) {
  auto s = nodes(2);
  s->mesh.ecoord(2) = 2.5;
  s->lev.hdnew(1) = 12.0;
  s->lev.hdnew(2) = 1.23456789;
  s->codes.iflux = 1;
  s->codes.iowrit = 1;
  s->bc.nbt = 2;
  s->bc.idv(1) = 1;
  s->bc.idv(2) = 2;
  s->clock.nts = 2;
  s->clock.timvec(1) = 0.0;
  s->clock.timvec(2) = 10.0;
  s->res.accu2(1, 1) = 3.0;
  s->res.accu2(2, 1) = -3.0;
  s->res.accu2(1, 2) = 6.0;
  s->res.accu2(2, 2) = -6.0;
  qmr::outobs(*s);
  EXPECT_EQ(
      lines(s->io.flux.text()),
      (Lines{"", "",
             "    1.STEP  2.TIMVALUE   3.LOGTIME  PROF.(  1)  PROF.(  "
             "2)  PROF.(",
             " ", "         1  0.0000E+00  0.0000E+00  0.3000E+01 -0.3000E+01",
             "         2  0.1000E+02  0.1000E+01  0.6000E+01 -0.6000E+01",
             ""}));
  EXPECT_EQ(s->clock.its, 0); // the steps are counted locally
  EXPECT_EQ(s->clock.ttime, 0.0);
  EXPECT_EQ(lines(s->io.restartOut.text()),
            (Lines{"    1  0.0000000E+00  0.1200000E+02",
                   "    2  0.2500000E+01  0.1234568E+01"}));
  EXPECT_EQ(lines(s->io.listing.text()),
            (Lines{"", " QMR - Quenmoor Model - SUCCESSFUL TERMINATION", "",
                   " QMR - Quenmoor Model - SUCCESSFUL TERMINATION"}));
}

} // namespace
