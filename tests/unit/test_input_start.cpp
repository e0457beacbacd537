// Initial conditions and restart input, iteration criteria, velocities of a
// transport run, observation nodes and profile steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input.hpp"
#include "input_util.hpp"
#include "io/layout.hpp"

using namespace inputtest;
using qmrtest::Deck;

namespace {

// A restart record: node, coordinate and value in (I5,2E15.7) columns.
std::string restartRecord(int node, const std::string &x,
                          const std::string &v) {
  return qmrtest::col(node, 5) + qmrtest::col(x, 15) + qmrtest::col(v, 15) +
         "\n";
}

// A velocity record in (I5,4E15.7) columns.
std::string velocityRecord(int ie, const std::string &d, const std::string &t,
                           const std::string &q, const std::string &r) {
  return qmrtest::col(ie, 5) + qmrtest::col(d, 15) + qmrtest::col(t, 15) +
         qmrtest::col(q, 15) + qmrtest::col(r, 15) + "\n";
}

} // namespace

TEST(InputInitial, DefaultValueAndStartOfTime) {
  auto s = withMesh("       2.5       9.0\nNEXT\n", 4);
  s->clock.tima = 3.0;
  qmr::inital(s->io, s->opt.values, s->codes, s->mesh, s->clock, s->lev,
              s->band);
  for (int ip = 1; ip <= 5; ++ip) EXPECT_EQ(s->lev.hdold(ip), 2.5);
  EXPECT_EQ(s->lev.hdold(6), 0.0);
  EXPECT_EQ(nextRecord(*s), "NEXT");
  EXPECT_EQ(listing(*s),
            (std::vector<std::string>{
                "", " DEFAULT INITIAL CONCENTRATION =  0.25000E+01",
                " *******************************", "", ""}));
  EXPECT_EQ(s->clock.ptime, 3.0);
  EXPECT_EQ(s->clock.theta, 1.0);
  EXPECT_EQ(s->band.ifullb, 3);
  EXPECT_EQ(s->band.ihalfb, 1);
  EXPECT_EQ(s->band.ihbp, 2);
}

TEST(InputInitial, RestartTakenInRecordOrderThenOverrides) {
  Deck d;
  d << "    3       7.5"
    << "    3       8.5";
  auto s = withMesh(d.text, 4);
  s->codes.ioread = 1;
  s->codes.nonu = 2;
  std::string rst;
  for (int k = 0; k < 5; ++k)
    rst += restartRecord(5 - k, std::to_string(10 * k) + ".0",
                         std::to_string(k + 1) + ".0");
  s->io.restartIn.openText("restart", rst);
  qmr::inital(s->io, s->opt.values, s->codes, s->mesh, s->clock, s->lev,
              s->band);
  EXPECT_EQ(s->lev.hdold(1), 1.0); // node number 5 in the first record
  EXPECT_EQ(s->lev.hdold(2), 2.0);
  EXPECT_EQ(s->lev.hdold(3), 8.5); // the later override wins
  EXPECT_EQ(s->lev.hdold(5), 5.0);
  EXPECT_FALSE(s->io.restartIn.isOpen());
  std::vector<std::string> want = {
      " NODE     E-COORD   CONCENTRATION",
      " ----     -------   -------------",
      "",
      "",
      "    5 0.00000E+00      0.10000E+01",
      "    4 0.10000E+02      0.20000E+01",
      "    3 0.20000E+02      0.30000E+01",
      "    2 0.30000E+02      0.40000E+01",
      "    1 0.40000E+02      0.50000E+01",
      "",
      " NODE NUMBER (   3 ) - NON-UNIFORM INITIAL VALUE =  0.75000E+01",
      "",
      " NODE NUMBER (   3 ) - NON-UNIFORM INITIAL VALUE =  0.85000E+01"};
  EXPECT_EQ(listing(*s), want);
}

TEST(InputInitial, RestartFileOneRecordShort) {
  auto s = withMesh("", 2);
  s->codes.ioread = 1;
  s->io.restartIn.openText("restart", restartRecord(1, "0.0", "1.0") +
                                          restartRecord(2, "1.0", "2.0"));
  EXPECT_EQ(stopStatus([&] {
              qmr::inital(s->io, s->opt.values, s->codes, s->mesh, s->clock,
                          s->lev, s->band);
            }),
            qmr::kExitFailure);
  auto l = listing(*s);
  ASSERT_EQ(l.size(), 7u); // heading, two echoed records, the failure
  EXPECT_EQ(l[5], "    2 0.10000E+01      0.20000E+01");
  EXPECT_EQ(l.back(), " ****ERROR OR END OF FILE ON RESTART FILE****");

  // A malformed restart record ends the run the same way.
  auto m = withMesh("", 0);
  m->codes.ioread = 1;
  m->io.restartIn.openText("restart", "    1        x\n");
  EXPECT_EQ(stopStatus([&] {
              qmr::inital(m->io, m->opt.values, m->codes, m->mesh, m->clock,
                          m->lev, m->band);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(lastLine(*m), " ****ERROR OR END OF FILE ON RESTART FILE****");
}

TEST(InputInitial, DefaultRecordFailuresAndNodeOutsideMesh) {
  for (const char *deck : {"", "      2,5\n"}) {
    auto s = withMesh(deck, 2);
    EXPECT_EQ(stopStatus([&] {
                qmr::inital(s->io, s->opt.values, s->codes, s->mesh, s->clock,
                            s->lev, s->band);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*s), kMainFail);
  }
  // The non-uniform records carry no check of their own.
  auto u = withMesh("       1.0\n", 2);
  u->codes.nonu = 1;
  EXPECT_THROW(qmr::inital(u->io, u->opt.values, u->codes, u->mesh, u->clock,
                           u->lev, u->band),
               qmr::ReaderFault);

  auto b = withMesh("       1.0\n    4       1.0\n", 2);
  b->codes.nonu = 1;
  EXPECT_EQ(stopStatus([&] {
              qmr::inital(b->io, b->opt.values, b->codes, b->mesh, b->clock,
                          b->lev, b->band);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(b->io.diag, "main input record 2: non-uniform initial value "
                        "node 4 is outside 1..3");
  auto l = listing(*b);
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[l.size() - 2],
            " NODE NUMBER (   4 ) - NON-UNIFORM INITIAL VALUE =  0.10000E+01");
  EXPECT_EQ(l.back(), kMainFail);
  EXPECT_EQ(b->lev.hdold(4), 0.0);
}

TEST(InputCriteria, DefaultsWithoutRecord) {
  auto f = qmrtest::memState("NEXT\n");
  f->fprop.ilqmax = 1;
  qmr::nonlin(f->io, f->codes, f->fprop, f->crit);
  EXPECT_EQ(f->crit.nitmax, 100);
  EXPECT_EQ(f->crit.toler, 9.999999974752427E-7);
  EXPECT_EQ(f->crit.relax, 0.75);
  EXPECT_EQ(f->io.listing.text(), "");
  EXPECT_EQ(nextRecord(*f), "NEXT");

  auto t = qmrtest::memState("NEXT\n");
  qmr::nonlin(t->io, t->codes, t->fprop, t->crit);
  EXPECT_EQ(t->crit.nitmax, 1);
  EXPECT_EQ(t->crit.toler, 0.0);
  EXPECT_EQ(t->crit.relax, 1.0);
  EXPECT_EQ(nextRecord(*t), "NEXT");
}

TEST(InputCriteria, RecordReadAndRelaxationThreshold) {
  auto s = qmrtest::memState("   20     0.001       0.0\n");
  s->codes.i2dwt = 1;
  s->fprop.ilqmax = 1;
  qmr::nonlin(s->io, s->codes, s->fprop, s->crit);
  EXPECT_EQ(s->crit.nitmax, 20);
  EXPECT_EQ(s->crit.toler, 0.001);
  EXPECT_EQ(s->crit.relax, 1.0);
  EXPECT_EQ(
      listing(*s),
      (std::vector<std::string>{
          "", "   NON-LINEAR CONVERGENCE CRITERIA",
          "   NITMAX = MAXIMUM NUMBER OF ITERATIONS =    20",
          "   TOLER  = CONVERGENCE TOLERANCE        =  0.10000E-02",
          "   RELAX  = RELAXATION FACTOR            =  0.10000E+01", "", ""}));

  // 0.001 is below its single-precision self; 0.0011 is not.
  auto a = qmrtest::memState("    5     0.001     0.001\n");
  a->codes.i2dwt = 1;
  qmr::nonlin(a->io, a->codes, a->fprop, a->crit);
  EXPECT_EQ(a->crit.relax, 1.0);
  auto b = qmrtest::memState("    5     0.001    0.0011\n");
  b->codes.i2dwt = 1;
  qmr::nonlin(b->io, b->codes, b->fprop, b->crit);
  EXPECT_EQ(b->crit.relax, 0.0011);

  for (const char *deck : {"", "   2x\n"}) {
    auto e = qmrtest::memState(deck);
    e->codes.i2dwt = 1;
    EXPECT_EQ(
        stopStatus([&] { qmr::nonlin(e->io, e->codes, e->fprop, e->crit); }),
        qmr::kExitFailure);
    EXPECT_EQ(lastLine(*e), kMainFail);
  }
}

TEST(InputVelocity, DefaultVelocityTimesWidth) {
  auto s = withMesh("       2.0      10.0     999.0\nNEXT\n", 2);
  s->fprop.ewide(1) = 50.0;
  s->fprop.ewide(2) = 80.0;
  s->tprop.qleak(1) = 4.0;
  qmr::rdarcy(s->io, s->opt.values, s->codes, s->mesh, s->fprop, s->tprop);
  EXPECT_EQ(s->tprop.darcy(1), 100.0);
  EXPECT_EQ(s->tprop.darcy(2), 160.0);
  EXPECT_EQ(s->tprop.thick(1), 10.0);
  EXPECT_EQ(s->tprop.thick(2), 10.0);
  EXPECT_EQ(s->tprop.qleak(1), 0.0);
  EXPECT_EQ(s->tprop.qrech(2), 0.0);
  EXPECT_EQ(nextRecord(*s), "NEXT");
  EXPECT_EQ(listing(*s),
            (std::vector<std::string>{
                "     DEFAULT DARCY VELOCITY    = .2000000E+01",
                "     DEFAULT AQUIFER THICKNESS = .1000000E+02", ""}));

  for (const char *deck : {"", "       2.0      1O.0\n"}) {
    auto e = withMesh(deck, 2);
    EXPECT_EQ(stopStatus([&] {
                qmr::rdarcy(e->io, e->opt.values, e->codes, e->mesh, e->fprop,
                            e->tprop);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*e), kMainFail);
  }
}

TEST(InputVelocity, OneBlockFromTheFile) {
  auto s = withMesh("NEXT\n", 2);
  s->codes.iodarc = 1;
  s->io.velocity.openText("vel.dat",
                          velocityRecord(1, "0.5", "12.0", "-0.2", "0.3") +
                              velocityRecord(2, "-1.5", "11.0", "0.1", "-4.0") +
                              velocityRecord(3, "9.0", "9.0", "9.0", "9.0"));
  qmr::rdarcy(s->io, s->opt.values, s->codes, s->mesh, s->fprop, s->tprop);
  EXPECT_EQ(s->tprop.darcy(1), 0.5);
  EXPECT_EQ(s->tprop.thick(1), 12.0);
  EXPECT_EQ(s->tprop.qleak(1), 0.0);
  EXPECT_EQ(s->tprop.qrech(1), 0.3);
  EXPECT_EQ(s->tprop.darcy(2), -1.5); // taken as written, not times the width
  EXPECT_EQ(s->tprop.qleak(2), 0.1);
  EXPECT_EQ(s->tprop.qrech(2), 0.0);
  EXPECT_EQ(s->io.listing.text(), "");
  EXPECT_EQ(nextRecord(*s), "NEXT");
  std::string rec;
  ASSERT_TRUE(s->io.velocity.next(rec)); // the extra record stays unread
  EXPECT_EQ(rec.substr(0, 5), "    3");
}

TEST(InputVelocity, ElementNumberOutOfStep) {
  auto s = withMesh("", 3);
  s->codes.iodarc = 1;
  s->io.velocity.openText("vel.dat",
                          velocityRecord(1, "0.5", "1.0", "0", "0") +
                              velocityRecord(3, "0.7", "1.0", "0", "0"));
  EXPECT_EQ(stopStatus([&] {
              qmr::rdarcy(s->io, s->opt.values, s->codes, s->mesh, s->fprop,
                          s->tprop);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(lastLine(*s), " ****PROBLEMS IN READING DARCY VELOCITIES FILE****");
  EXPECT_EQ(s->io.diag, "velocity file vel.dat record 2: element number 3 "
                        "where 2 was expected");
  EXPECT_EQ(s->tprop.darcy(1), 0.5);
  EXPECT_EQ(s->tprop.darcy(2), 0.0);
}

TEST(InputVelocity, ShortOrMalformedFile) {
  for (const std::string &file :
       {velocityRecord(1, "0.5", "1.0", "0", "0"),
        velocityRecord(1, "0.5", "1.0", "0", "0") + "    2    x\n"}) {
    auto s = withMesh("", 2);
    s->codes.iodarc = 1;
    s->io.velocity.openText("vel.dat", file);
    EXPECT_EQ(stopStatus([&] {
                qmr::rdarcy(s->io, s->opt.values, s->codes, s->mesh, s->fprop,
                            s->tprop);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*s), " ****ERROR OR END OF FILE ON DARCY FILE****");
  }
}

TEST(InputVelocity, PerStepCodeReadsNothingAndLargerCodesAreRejected) {
  auto s = withMesh("NEXT\n", 2);
  s->codes.iodarc = 2;
  s->io.velocity.openText("vel.dat", velocityRecord(1, "0.5", "1.0", "0", "0"));
  qmr::rdarcy(s->io, s->opt.values, s->codes, s->mesh, s->fprop, s->tprop);
  EXPECT_EQ(nextRecord(*s), "NEXT");
  std::string rec;
  EXPECT_TRUE(s->io.velocity.next(rec));
  EXPECT_EQ(s->tprop.darcy(1), 0.0);

  auto b = withMesh("NEXT\n", 2);
  b->codes.iodarc = 3;
  EXPECT_EQ(stopStatus([&] {
              qmr::rdarcy(b->io, b->opt.values, b->codes, b->mesh, b->fprop,
                          b->tprop);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(lastLine(*b), kMainFail);
  EXPECT_NE(b->io.diag.find("velocities 3"), std::string::npos);
}

TEST(InputObservation, NodesProfilesAndHeadings) {
  Deck d;
  d << "    5   99   98"
    << "   12"
    << "    3"
    << "    7";
  auto s = withMesh(d.text, 12);
  s->obs.nobs = 2;
  s->obs.ntprof = 2;
  s->bc.nbt = 2;
  s->bc.idv(1) = 1;
  s->bc.idv(2) = 13;
  s->codes.iflux = 1;
  qmr::obsnod(s->io, s->codes, s->mesh, s->clock, s->bc, s->obs);
  EXPECT_EQ(s->obs.ldobs(1), 5); // only columns 1-5 of each record
  EXPECT_EQ(s->obs.ldobs(2), 12);
  EXPECT_EQ(s->obs.ltprof(1), 3);
  EXPECT_EQ(s->obs.ltprof(2), 7);
  EXPECT_EQ(s->obs.ltprof(3), 0);
  EXPECT_EQ(s->obs.itprof, 1);
  EXPECT_EQ(s->io.graphic.text(), "1.TIMESTEP   2.TIMEVAL   3.LOGTIME"
                                  "   OBS.(  5)   OBS.( 12)   OBS.(\n \n");
  EXPECT_EQ(s->io.flux.text(), "1.TIMESTEP   2.TIMEVAL   3.LOGTIME"
                               "   OBS.(  1)   OBS.( 13)   OBS.(\n \n");
  EXPECT_EQ(s->io.listing.text(), "");
}

TEST(InputObservation, NoNodesNoFluxFile) {
  auto s = withMesh("NEXT\n", 3);
  s->bc.nbt = 1;
  s->bc.idv(1) = 2;
  qmr::obsnod(s->io, s->codes, s->mesh, s->clock, s->bc, s->obs);
  EXPECT_EQ(s->io.graphic.text(),
            "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(\n \n");
  EXPECT_EQ(s->io.flux.text(), "");
  EXPECT_EQ(s->obs.ltprof(1), 0);
  EXPECT_EQ(s->obs.itprof, 1);
  EXPECT_EQ(nextRecord(*s), "NEXT");
}

TEST(InputObservation, FailuresAndNodesOutsideMesh) {
  struct Case {
    std::string deck;
    int nobs, ntprof;
  };
  // End of file and a malformed number, in either list.
  const std::vector<Case> bad = {{"", 1, 0},
                                 {"    1\n", 2, 0},
                                 {"   1x\n", 1, 0},
                                 {"    1\n", 1, 1},
                                 {"    1\n  2.0\n", 1, 1}};
  for (const auto &c : bad) {
    auto s = withMesh(c.deck, 3);
    s->obs.nobs = c.nobs;
    s->obs.ntprof = c.ntprof;
    EXPECT_EQ(stopStatus([&] {
                qmr::obsnod(s->io, s->codes, s->mesh, s->clock, s->bc, s->obs);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*s), kMainFail);
    EXPECT_EQ(s->io.graphic.text(), ""); // no heading yet
  }

  auto o = withMesh("    2\n    5\n", 3);
  o->obs.nobs = 2;
  EXPECT_EQ(stopStatus([&] {
              qmr::obsnod(o->io, o->codes, o->mesh, o->clock, o->bc, o->obs);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(o->io.diag,
            "main input record 2: observation node 5 is outside 1..4");

  // Profile steps are not checked: one that never occurs is never stored.
  auto p = withMesh("  500\n", 3);
  p->obs.ntprof = 1;
  qmr::obsnod(p->io, p->codes, p->mesh, p->clock, p->bc, p->obs);
  EXPECT_EQ(p->obs.ltprof(1), 500);
}
