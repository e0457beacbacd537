// Models within and beyond the legacy capacities (300 elements, 101 steps,
// 10 media, 10 prescribed values, 301 flux records, 20 observation nodes,
// 20 profiles): a deck within all of them keeps its legacy bytes, integers
// overflowing their fields as asterisks; a deck beyond any of them writes
// such integers in fields just wide enough, and keeps every row's columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/layout.hpp"
#include "state/state.hpp"
#include "support.hpp"

namespace {

using qmrtest::col;
using qmrtest::Deck;
using qmrtest::lines;

// A confined flow run with a flux file: a uniform mesh of ne elements over
// 10 m per element, nmat media in zones of equal length, nts linear steps of
// one day with reports every istep-th step, the heads of `fixed` held (10 at
// the first, 4 at the others), nonu non-uniform initial values.
struct Flow {
  int ne = 10, nts = 5, nmat = 1, istep = 1, nonu = 0;
  std::vector<int> fixed = {1, 11};
  std::vector<int> obs, profs;

  std::string deck() const {
    Deck d;
    d << "F"
      << "run.lst"
      << "run.grf"
      << "run.flx"
      << "capacity test";
    d << col(ne, 5) + col(nts, 5) + col(nmat, 5) +
             col(static_cast<long>(fixed.size()), 5) + col(0, 5) +
             col(nonu, 5) + col(static_cast<long>(obs.size()), 5) +
             col(static_cast<long>(profs.size()), 5);
    d << col(1, 5) + col(0, 5) + col(istep, 5) + col(0, 5) + col(0, 5) +
             col(0, 5) + col(0, 5) + col(1, 5) + col(0, 5) + col(0, 5) +
             col(1, 5);
    d << col("0.0", 10) + col(std::to_string(10 * ne) + ".0", 10) +
             col("1.0", 10);
    for (int k = 0; k < nmat; ++k) d << col(1 + k * ne / nmat, 5);
    for (int k = 0; k < nmat; ++k)
      d << "       1.0       0.0       0.1      10.0       0.0       0.0"
           "       0.0       1.0       0.0";
    d << "       0.0       1.0    0";
    for (std::size_t k = 0; k < fixed.size(); ++k)
      d << col(fixed[k], 5) + col(1, 5) + col(k == 0 ? "10.0" : "4.0", 10);
    d << "       5.0";
    for (int k = 0; k < nonu; ++k) d << col(1 + k % (ne + 1), 5) + "       5.0";
    for (int node : obs) d << col(node, 5);
    for (int step : profs) d << col(step, 5);
    return d.text;
  }
};

bool hasLine(const std::string &text, const std::string &line) {
  for (const auto &l : lines(text))
    if (l == line) return true;
  return false;
}

// The first line of `text` that begins with `head`, or "".
std::string lineStarting(const std::string &text, const std::string &head) {
  for (const auto &l : lines(text))
    if (l.rfind(head, 0) == 0) return l;
  return "";
}

std::string obsLabels(const std::vector<int> &nodes) {
  std::string t = "1.TIMESTEP   2.TIMEVAL   3.LOGTIME";
  for (int n : nodes) t += "   OBS.(" + col(n, 3) + ")";
  return t;
}

// Integers that outgrow their fields. Without widening: asterisks; with it:
// the digits alone, no blank in front; a fitting integer keeps its field.
TEST(Capacity, IntegerFieldsWidenOnlyWhenAsked) {
  const qmr::Layout step(
      "(21X,'***** TIME STEP',I3,' OF',I3,' COMPLETED *****')");
  EXPECT_EQ(qmr::format(step, {1000, 1000}),
            std::string(21, ' ') + "***** TIME STEP*** OF*** COMPLETED *****");
  EXPECT_EQ(qmr::format(step, {1000, 1000}, true),
            std::string(21, ' ') +
                "***** TIME STEP1000 OF1000 COMPLETED *****");
  EXPECT_EQ(qmr::format(step, {7, 120}, true),
            std::string(21, ' ') + "***** TIME STEP  7 OF120 COMPLETED *****");
  const qmr::Layout medium("('MEDIUM ',I1,'.')");
  EXPECT_EQ(qmr::format(medium, {10}), "MEDIUM *.");
  EXPECT_EQ(qmr::format(medium, {10}, true), "MEDIUM 10.");
  EXPECT_EQ(qmr::format(medium, {-1}, true), "MEDIUM -1.");
  // Rows: a node number that fits I5 keeps its five columns.
  const qmr::Layout row("(I5,2E15.7)");
  EXPECT_EQ(qmr::format(row, {99999, 1.0, 2.0}, true),
            qmr::format(row, {99999, 1.0, 2.0}));
  EXPECT_EQ(qmr::format(row, {99999, 1.0, 2.0}, true).substr(0, 5), "99999");
}

// Within every legacy capacity: ten media (the tenth is "*" in the one-column
// medium number), 1000 non-uniform initial values ("***" in the counts
// echo), a profile step of 1000 that is never reached ("***" in its
// heading), twenty observation nodes: the legacy forms, exactly.
TEST(Capacity, LegacyDeckKeepsItsAsterisks) {
  Flow f;
  f.nmat = 10;
  f.nonu = 1000;
  for (int k = 1; k <= 20; ++k) f.obs.push_back(1 + k % 11);
  f.profs = {3, 1000};
  auto r = qmrtest::runDeck("cap-legacy", f.deck());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lst = r.file("run.lst");
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF NON-UNIFORM INITIAL NODAL VALUES       = ***"));
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF DIFFERENT MATERIAL LAYERS              =  10"));
  EXPECT_TRUE(hasLine(lst, "MATERIAL PROPERTIES FOR MEDIUM 9"));
  EXPECT_TRUE(hasLine(lst, "MATERIAL PROPERTIES FOR MEDIUM *"));
  EXPECT_TRUE(hasLine(lst, std::string(21, ' ') +
                               "***** TIME STEP  5 OF  5 COMPLETED *****"));
  const auto grf = r.file("run.grf");
  EXPECT_EQ(lines(grf).at(0), obsLabels(f.obs) + "   OBS.(");
  EXPECT_TRUE(hasLine(grf, "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  3)"
                           "  PROF.(***)  PROF.("));
}

// Beyond the legacy capacities: 1,200 elements, 1,000 steps, 12 media, 40
// observation nodes up to node 1201, profiles at steps 500 and 1000, the
// head held at node 1201. Every number shows; the rows keep their columns;
// the fortieth observation heading keeps its trailing "*".
TEST(Capacity, LargeDeckWidensWhatDoesNotFit) {
  Flow f;
  f.ne = 1200;
  f.nts = 1000;
  f.nmat = 12;
  f.istep = 1000;
  f.fixed = {1, 1201};
  for (int k = 1; k <= 40; ++k) f.obs.push_back(30 * k + 1);
  f.profs = {500, 1000};
  auto r = qmrtest::runDeck("cap-large", f.deck());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lst = r.file("run.lst");
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF ELEMENTS                               = 1200"));
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF TIMESTEPS                              = 1000"));
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF DIFFERENT MATERIAL LAYERS              =  12"));
  EXPECT_TRUE(
      hasLine(lst, " NUMBER OF OBSERVATION NODES                      =  40"));
  EXPECT_TRUE(hasLine(lst, "MATERIAL PROPERTIES FOR MEDIUM 9"));
  EXPECT_TRUE(hasLine(lst, "MATERIAL PROPERTIES FOR MEDIUM 10"));
  EXPECT_TRUE(hasLine(lst, "MATERIAL PROPERTIES FOR MEDIUM 12"));
  EXPECT_TRUE(
      hasLine(lst, std::string(20, ' ') + "      TIME STEP NUMBER 1000"));
  EXPECT_TRUE(hasLine(lst, std::string(21, ' ') +
                               "***** TIME STEP1000 OF1000 COMPLETED *****"));

  const auto grf = r.file("run.grf");
  const auto g = lines(grf);
  ASSERT_GT(g.size(), 1002u);
  std::string head = "1.TIMESTEP   2.TIMEVAL   3.LOGTIME";
  for (int n : f.obs)
    head += "   OBS.(" + (n > 999 ? std::to_string(n) : col(n, 3)) + ")";
  EXPECT_EQ(g[0], head + "*");
  // Observation rows: (I10,42(1X,E11.4)), 514 columns with 40 nodes.
  for (int k = 1; k <= 1000; ++k) {
    ASSERT_EQ(g[1 + k].size(), 514u) << k;
    EXPECT_EQ(g[1 + k].substr(0, 10), col(k, 10));
  }
  EXPECT_TRUE(hasLine(grf, "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(500)"
                           "  PROF.(1000)  PROF.("));
  // Profile rows: node, coordinate, logarithm and two profiles.
  EXPECT_EQ(lineStarting(grf, "      1201 ").size(), 10u + 4u * 12u);

  const auto flx = r.file("run.flx");
  EXPECT_TRUE(hasLine(flx, "    1.STEP  2.TIMVALUE   3.LOGTIME  PROF.(  1)"
                           "  PROF.(1201)  PROF.("));
  // No count, node, step or medium number anywhere as asterisks.
  for (const std::string *text : {&lst, &grf, &flx}) {
    EXPECT_EQ(text->find("***)"), std::string::npos);
    EXPECT_EQ(text->find("= ***"), std::string::npos);
    EXPECT_EQ(text->find("STEP***"), std::string::npos);
    EXPECT_EQ(text->find("MEDIUM *\n"), std::string::npos);
  }
}

// Time steps beyond 9,999 take five columns in the step heading.
TEST(Capacity, TenThousandStepsAreNumbered) {
  Flow f;
  f.ne = 1;
  f.nts = 10000;
  f.istep = 10000;
  f.fixed = {1};
  auto r = qmrtest::runDeck("cap-steps", f.deck());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lst = r.file("run.lst");
  EXPECT_TRUE(
      hasLine(lst, std::string(20, ' ') + "      TIME STEP NUMBER 9999"));
  EXPECT_TRUE(
      hasLine(lst, std::string(20, ' ') + "      TIME STEP NUMBER 10000"));
  EXPECT_TRUE(hasLine(lst, std::string(21, ' ') +
                               "***** TIME STEP10000 OF10000 COMPLETED *****"));
}

} // namespace
