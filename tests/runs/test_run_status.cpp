// Whole runs and their exit statuses: a missing or empty main input,
// malformed and excessive counts, a normal end, an output that cannot be
// created.
#include <gtest/gtest.h>

#include "stop/stop.hpp"
#include "support.hpp"

using qmrtest::Deck;
using qmrtest::lines;

namespace {

const std::string kMainFail = " ****ERROR OR END OF FILE ON MAIN INPUT****";

// A small complete steady flow deck: two elements between fixed heads 10
// and 4, with a flux file.
qmrtest::FlowDeck flowDeck() {
  qmrtest::FlowDeck f;
  f.flux = "run.flx";
  f.ne = 2;
  f.codes.imshgn = 0;
  f.codes.itsgn = 0;
  f.codes.isstat = 1;
  f.codes.ipcode = 0;
  f.coords = {0.0, 10.0, 20.0};
  f.media = {{1.0, 0.0, 0.0, 10.0}};
  f.values = {{1, 10.0}, {3, 4.0}};
  f.observations = {2};
  f.profiles = {1};
  return f;
}

} // namespace

TEST(WholeRun, MissingOrEmptyMainInput) {
  auto none = qmrtest::runIn(qmrtest::scratch("nodeck"));
  EXPECT_EQ(none.status, qmr::kExitFile);
  EXPECT_NE(none.err.find("VELDA.INP"), std::string::npos);
  EXPECT_EQ(none.out.find("****ERROR"), std::string::npos);

  auto r = qmrtest::runDeck("empty", "");
  EXPECT_EQ(r.status, qmr::kExitFailure);
  const auto out = lines(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), kMainFail);
  EXPECT_NE(r.err.find("VELDA.INP: end of file"), std::string::npos) << r.err;
}

TEST(WholeRun, MalformedAndExcessiveCounts) {
  Deck d;
  d << "F OW"
    << "run.lst"
    << "run.grf"
    << "ignored"
    << "   10  1.0";
  auto r = qmrtest::runDeck("badcount", d.text);
  EXPECT_EQ(r.status, qmr::kExitReader);
  EXPECT_NE(r.err.find("record 5, columns 6-10"), std::string::npos) << r.err;
  EXPECT_EQ(r.file("run.lst").find("****"), std::string::npos);

  Deck e;
  e << "F OW"
    << "run.lst"
    << "run.grf"
    << "ignored"
    << qmrtest::record(qmrtest::Counts{99999, 1, 1, 0, 0, 0, 0, 0});
  auto big = qmrtest::runDeck("bigcount", e.text);
  EXPECT_EQ(big.status, qmr::kExitFailure);
  const auto lst = lines(big.file("run.lst"));
  ASSERT_FALSE(lst.empty()) << big.err;
  EXPECT_EQ(lst.back(), kMainFail);
  EXPECT_NE(big.err.find("99999"), std::string::npos);
}

TEST(WholeRun, NormalEndExitsZero) {
  auto r = qmrtest::runDeck("normal", flowDeck().text());
  EXPECT_EQ(r.status, qmr::kExitNormal) << r.err;
  EXPECT_EQ(r.err, "");
  auto ls = lines(r.file("run.lst"));
  ASSERT_GE(ls.size(), 4u);
  EXPECT_EQ(ls.back(), " QMR - Quenmoor Model - SUCCESSFUL TERMINATION");
  EXPECT_TRUE(r.exists("run.grf"));
  EXPECT_TRUE(r.exists("run.flx"));
}

TEST(WholeRun, OutputThatCannotBeCreated) {
  auto f = flowDeck();
  f.listing = "nofolder\\run.lst";
  auto r = qmrtest::runDeck("nolisting", f.text());
  EXPECT_EQ(r.status, qmr::kExitFile);
  EXPECT_NE(r.err.find("nofolder/run.lst"), std::string::npos) << r.err;
}

TEST(WholeRun, FailureWithoutDiagnosticIsToldByItsMessage) {
  // A water-table run allowed one iteration: the heads start at 5 and
  // move towards the fixed 10 by more than the tolerance, and the step is
  // not converged. Standard error says so in the words of the listing.
  qmrtest::FlowDeck f = flowDeck();
  f.codes.i2dwt = 1;
  f.values = {{1, 10.0}};
  f.initial = 5.0;
  f.nitmax = 1;
  f.toler = 1e-6;
  auto r = qmrtest::runDeck("notconverged", f.text());
  EXPECT_EQ(r.status, qmr::kExitFailure) << r.err;
  EXPECT_EQ(lines(r.file("run.lst")).back(),
            " ****SOLUTION NOT CONVERGED - PROGRAM TERMINATED****");
  EXPECT_EQ(r.err, "qmr: SOLUTION NOT CONVERGED - PROGRAM TERMINATED\n");
}
