// Time-step input: steady state, manual, logarithmic and linear sequences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input.hpp"
#include "input_util.hpp"
#include "io/layout.hpp"

using namespace inputtest;
using qmrtest::Deck;

namespace {

std::unique_ptr<qmr::State> timeState(const std::string &deck, int nts,
                                      int itsgn) {
  auto s = qmrtest::memState(deck);
  s->clock.nts = nts;
  s->codes.itsgn = itsgn;
  return s;
}

const std::vector<std::string> kColumns = {
    "   TIME STEP       TOTAL     ELAPSED        TIME",
    "     NUMBER        TIME        TIME         STEP",
    "   ---------       -----     -------        ----", "", ""};

} // namespace

TEST(InputTime, SteadyStateReadsNothing) {
  auto s = timeState("NEXT\n", 7, 1);
  s->codes.isstat = 1;
  qmr::tmstep(s->io, s->codes, s->clock);
  EXPECT_EQ(s->clock.nts, 1);
  EXPECT_EQ(s->clock.tima, 0.0);
  EXPECT_EQ(s->clock.asign, 0.0);
  EXPECT_EQ(s->clock.timvec(1), 1.0);
  EXPECT_EQ(listing(*s), (std::vector<std::string>{
                             "", " ** STEADY STATE CONDITION **", ""}));
  EXPECT_EQ(nextRecord(*s), "NEXT");
}

TEST(InputTime, LogarithmicWithSinglePrecisionFactor) {
  auto s = timeState("       0.0       1.0    2\n", 5, 1);
  s->codes.isstat = 2; // any code but 1 is transient
  qmr::tmstep(s->io, s->codes, s->clock);
  EXPECT_EQ(s->clock.asign, 1.0);
  // 10^(1/2) held in single precision is 3.1622776985168457.
  EXPECT_EQ(s->clock.timvec(1), 1.0);
  EXPECT_EQ(s->clock.timvec(2), 3.1622776985168457);
  EXPECT_NEAR(s->clock.timvec(3), 10.000000242536998, 1e-12);
  EXPECT_NEAR(s->clock.timvec(4), 31.6227777521378, 1e-11);
  EXPECT_NEAR(s->clock.timvec(5), 100.00000485074004, 1e-10);
  EXPECT_GT(s->clock.timvec(5), 100.000004); // not 100
  // The steps are counted by the routine itself: the clock is not moved.
  EXPECT_EQ(s->clock.its, 0);
  EXPECT_EQ(s->clock.ttime, 0.0);

  std::vector<std::string> want = {
      "",
      " AUTOMATIC LOGARITHMIC TIMESTEP GENERATION",
      " -----------------------------------------",
      "",
      " INITIAL TIME VALUE    (TIMA)                =  0.00000E+00",
      " FIRST TIME STEP VALUE (DELTA1)              =  0.10000E+01",
      " NUMBER OF TIME STEPS PER LOG CYCLE (NTSLOG) =            2",
      ""};
  for (auto &l : kColumns) want.push_back(l);
  want.push_back("           1 0.10000E+01 0.10000E+01 0.10000E+01");
  want.push_back("           2 0.31623E+01 0.31623E+01 0.21623E+01");
  want.push_back("           3 0.10000E+02 0.10000E+02 0.68377E+01");
  want.push_back("           4 0.31623E+02 0.31623E+02 0.21623E+02");
  want.push_back("           5 0.10000E+03 0.10000E+03 0.68377E+02");
  EXPECT_EQ(listing(*s), want);
}

TEST(InputTime, LogarithmicTenPerCycleFactor) {
  auto s = timeState("       5.0       1.0   10\n", 2, 1);
  qmr::tmstep(s->io, s->codes, s->clock);
  // The single-precision factor, not 1.2589254117941673.
  EXPECT_EQ(s->clock.timvec(1), 6.0);
  EXPECT_EQ(s->clock.timvec(2), 5.0 + 1.25892543792724609375);
}

TEST(InputTime, LinearFromNonZeroStart) {
  auto s = timeState("      10.0       2.5    0\n", 3, 1);
  qmr::tmstep(s->io, s->codes, s->clock);
  EXPECT_EQ(s->clock.tima, 10.0);
  EXPECT_EQ(s->clock.timvec(1), 12.5);
  EXPECT_EQ(s->clock.timvec(2), 15.0);
  EXPECT_EQ(s->clock.timvec(3), 17.5);
  std::vector<std::string> want = {
      "",
      " AUTOMATIC LINEAR TIMESTEP GENERATION",
      " ------------------------------------",
      "",
      " INITIAL TIME VALUE      (TIMA)              =  0.10000E+02",
      " UNIFORM TIME STEP VALUE (DELTA1)            =  0.25000E+01",
      ""};
  for (auto &l : kColumns) want.push_back(l);
  want.push_back("           1 0.12500E+02 0.25000E+01 0.25000E+01");
  want.push_back("           2 0.15000E+02 0.50000E+01 0.25000E+01");
  want.push_back("           3 0.17500E+02 0.75000E+01 0.25000E+01");
  EXPECT_EQ(listing(*s), want);

  // A negative count per cycle is linear too.
  auto n = timeState("       0.0       1.0   -3\n", 2, 7);
  qmr::tmstep(n->io, n->codes, n->clock);
  EXPECT_EQ(n->clock.timvec(2), 2.0);
}

TEST(InputTime, ManualEightStepsTakeTwoRecords) {
  Deck d;
  d << "       1.0       2.0       4.0       5.0       7.0      10.0"
       "      20.0      30.0"
    << "      50.0"
    << "NEXT";
  auto s = timeState(d.text, 8, 0);
  qmr::tmstep(s->io, s->codes, s->clock);
  EXPECT_EQ(s->clock.tima, 1.0);
  EXPECT_EQ(s->clock.timvec(7), 30.0);
  EXPECT_EQ(s->clock.timvec(8), 50.0);
  EXPECT_EQ(nextRecord(*s), "NEXT");
  auto l = listing(*s);
  std::vector<std::string> head = {"",
                                   "",
                                   "  MANUAL TIME STEP INPUT",
                                   "  **********************",
                                   "",
                                   "  INITIAL TIME VALUE = 0.1000E+01",
                                   "",
                                   "   TIME STEP       TOTAL     ELAPSED"
                                   "        TIME",
                                   "    NUMBER         TIME       TIME"
                                   "          STEP",
                                   "   ---------       -----     -------"
                                   "        ----",
                                   "",
                                   ""};
  ASSERT_EQ(l.size(), head.size() + 8);
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(l[i], head[i]);
  // Elapsed time from tima, step from the previous time.
  EXPECT_EQ(l[head.size()], "           1 0.20000E+01 0.10000E+01 0.10000E+01");
  EXPECT_EQ(l[head.size() + 7],
            "           8 0.50000E+02 0.49000E+02 0.20000E+02");
}

TEST(InputTime, ManualSevenStepsOneRecordAndFailures) {
  auto s = timeState("       0.0       1.0       2.0       3.0       4.0"
                     "       5.0       6.0       7.0\nNEXT\n",
                     7, 0);
  qmr::tmstep(s->io, s->codes, s->clock);
  EXPECT_EQ(s->clock.timvec(7), 7.0);
  EXPECT_EQ(nextRecord(*s), "NEXT");

  // End of file: the main-input failure (eight times need a second record).
  auto e = timeState("       0.0       1.0\n", 8, 0);
  EXPECT_EQ(stopStatus([&] { qmr::tmstep(e->io, e->codes, e->clock); }),
            qmr::kExitFailure);
  EXPECT_EQ(lastLine(*e), kMainFail);

  // A malformed value: the record reader's own report.
  auto m = timeState("       0.0      1..0\n", 1, 0);
  EXPECT_THROW(qmr::tmstep(m->io, m->codes, m->clock), qmr::ReaderFault);

  // The automatic record carries no check of its own either.
  auto a = timeState("", 3, 1);
  EXPECT_THROW(qmr::tmstep(a->io, a->codes, a->clock), qmr::ReaderFault);
}
