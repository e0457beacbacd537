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
  s->np = np;
  s->ne = np - 1;
  s->io.u9.openMemory("restart");
  return s;
}

TEST(OutputOutpro, ObservationRow) {
  auto s = nodes(6);
  const double v[] = {0.0005, -0.0009, 0.001, 0.002, -0.002, 0.12345 - 1e-12};
  for (int ip = 1; ip <= 6; ++ip) {
    s->hdnew(ip) = v[ip - 1];
    s->ldobs(ip) = 7 - ip; // in the order of the heading, not of the nodes
  }
  s->nobs = 6;
  s->its = 3;
  s->ttime = 100.0;
  qmr::outpro(*s);
  // Below the single-precision 1.0E-3 shows zero; the last value rounds up
  // in single precision (0.12345000356...).
  EXPECT_EQ(s->io.u7.text(),
            "         3  0.1000E+03  0.2000E+01  0.1235E+00 -0.2000E-02"
            "  0.2000E-02  0.0000E+00  0.0000E+00  0.0000E+00\n");
  EXPECT_EQ(s->iobs, 7);
  for (int ip = 1; ip <= 6; ++ip) EXPECT_EQ(s->hdold(ip), v[ip - 1]);
}

TEST(OutputOutpro, RowWithoutObservationNodes) {
  auto s = nodes(2);
  s->its = 1;
  s->ttime = 1.0; // a steady-state run
  qmr::outpro(*s);
  s->its = 2;
  s->ttime = 0.0; // no logarithm: 0.0 in its column
  qmr::outpro(*s);
  s->its = 3;
  s->ttime = -5.0;
  qmr::outpro(*s);
  EXPECT_EQ(lines(s->io.u7.text()),
            (Lines{"         1  0.1000E+01  0.0000E+00",
                   "         2  0.0000E+00  0.0000E+00",
                   "         3 -0.5000E+01  0.0000E+00"}));
}

TEST(OutputOutobs, ProfileTable) {
  auto s = nodes(3);
  s->ecoord(1) = 0.0;
  s->ecoord(2) = -1.0;
  s->ecoord(3) = 100.0;
  s->ntprof = 3;
  s->ltprof(1) = 2;
  s->ltprof(2) = 5;
  s->ltprof(3) = 9; // never stored: zeros
  s->tmprof(1, 1) = 1.0E-16;
  s->tmprof(1, 2) = 2.0E-15;
  s->tmprof(1, 3) = -12.5;
  s->tmprof(2, 1) = -1.0E-16;
  s->tmprof(2, 2) = 3.0;
  s->tmprof(2, 3) = 1.0E-3;
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.u7.text()),
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
  EXPECT_EQ(s->itprof, 4);
  EXPECT_EQ(s->io.u4.text(), ""); // no flux file
  EXPECT_EQ(s->io.u9.text(), ""); // no restart file
}

TEST(OutputOutobs, WithoutProfiles) {
  auto s = nodes(1);
  s->ecoord(1) = 10.0;
  qmr::outobs(*s);
  EXPECT_EQ(lines(s->io.u7.text()),
            (Lines{"", "", "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(", " ",
                   "         1  0.1000E+02  0.1000E+01", ""}));
}

TEST(OutputOutobs, FluxHistoryRestartAndCompletion) {
  auto s = nodes(2);
  s->ecoord(2) = 2.5;
  s->hdnew(1) = 12.0;
  s->hdnew(2) = 1.23456789;
  s->iflux = 1;
  s->iowrit = 1;
  s->nbt = 2;
  s->idv(1) = 1;
  s->idv(2) = 2;
  s->nts = 2;
  s->timvec(1) = 0.0;
  s->timvec(2) = 10.0;
  s->accu2(1, 1) = 3.0;
  s->accu2(2, 1) = -3.0;
  s->accu2(1, 2) = 6.0;
  s->accu2(2, 2) = -6.0;
  qmr::outobs(*s);
  EXPECT_EQ(
      lines(s->io.u4.text()),
      (Lines{"", "",
             "    1.STEP  2.TIMVALUE   3.LOGTIME  PROF.(  1)  PROF.(  "
             "2)  PROF.(",
             " ", "         1  0.0000E+00  0.0000E+00  0.3000E+01 -0.3000E+01",
             "         2  0.1000E+02  0.1000E+01  0.6000E+01 -0.6000E+01",
             ""}));
  EXPECT_EQ(s->its, 3);
  EXPECT_EQ(s->ttime, 10.0);
  EXPECT_EQ(lines(s->io.u9.text()),
            (Lines{"    1  0.0000000E+00  0.1200000E+02",
                   "    2  0.2500000E+01  0.1234568E+01"}));
  EXPECT_EQ(lines(s->io.u6.text()),
            (Lines{"", " QMR - Quenmoor Model - SUCCESSFUL TERMINATION", "",
                   " QMR - Quenmoor Model - SUCCESSFUL TERMINATION"}));
}

} // namespace
