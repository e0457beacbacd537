// Whole runs: files the deck names are never lost, zero has no sign in the
// outputs, and profiles are stored as each run type does it.
#include <gtest/gtest.h>

#include "io/layout.hpp"
#include "support.hpp"

using qmrtest::FlowDeck;
using qmrtest::lines;
using qmrtest::Section;
using qmrtest::TransportDeck;

namespace {

// Two transient steps of 1 on ne elements of 10 (coordinates typed, one
// medium number per element), node 1 held at 0, the rest starting at 10;
// observation at the last node, two profiles at step 1.
FlowDeck flowDeck(int ne = 2) {
  FlowDeck f;
  f.title = "title";
  f.ne = ne;
  f.nts = 2;
  f.codes.imshgn = 0;
  f.codes.ipcode = 0;
  for (int i = 0; i <= ne; ++i) f.coords.push_back(10.0 * i);
  f.media = {{1.0, 0.0, 0.1, 10.0}};
  f.values = {{1, 0.0}};
  f.initial = 10.0;
  f.observations = {ne + 1};
  f.profiles = {1, 1};
  return f;
}

// A transport run on the two elements of 10, inlet 1 at node 1,
// observation at node 3.
TransportDeck transportDeck() {
  TransportDeck t;
  t.listing = "tr.lst";
  t.graphic = "tr.grf";
  t.title = "title";
  t.ne = 2;
  t.nts = 2;
  t.codes.imshgn = 0;
  t.codes.ipcode = 0;
  t.coords = {0.0, 10.0, 20.0};
  t.media = {{1.0, 0.0, 0.3, 1.0}};
  t.values = {{1, 1.0}};
  t.observations = {3};
  return t;
}

} // namespace

TEST(DataSafety, ZeroLeakageOfAFallingHeadHasNoSign) {
  FlowDeck fd = flowDeck();
  fd.velocity = "run.vel";
  auto r = qmrtest::runDeck("zerosign", fd.text());
  ASSERT_EQ(r.status, 0) << r.err;
  auto vel = lines(r.file("run.vel"));
  ASSERT_EQ(vel.size(), 2u); // one block, written at the last step
  for (const auto &rec : vel) {
    // Leakage coefficient 0 times a negative head difference.
    EXPECT_EQ(rec.substr(35, 15), "  0.0000000E+00") << rec;
    EXPECT_EQ(rec.find("-0.0000"), std::string::npos) << rec;
  }
}

TEST(DataSafety, RestartReadAndWrittenThroughOneName) {
  auto dir = qmrtest::scratch("samerst");
  FlowDeck first = flowDeck();
  first.restartOut = "same.rst";
  auto a = qmrtest::runDeckIn(dir, first.text());
  ASSERT_EQ(a.status, 0) << a.err;
  auto before = lines(qmrtest::readFile(dir / "same.rst"));
  ASSERT_EQ(before.size(), 3u);

  // One element fewer: the third record is not read, and the file that is
  // written back holds exactly the two records of this run.
  FlowDeck second = flowDeck(1);
  second.restartIn = "same.rst";
  second.restartOut = "C:\\QMR\\same.rst";
  auto b = qmrtest::runDeckIn(dir, second.text());
  ASSERT_EQ(b.status, 0) << b.err;
  auto after = lines(qmrtest::readFile(dir / "same.rst"));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].substr(0, 5), "    1");
  EXPECT_EQ(after[1].substr(0, 5), "    2");
  // The listing echoes the values read from the first run's file.
  const std::string lst = b.file("run.lst");
  const std::string v2 = before[1].substr(20, 15);
  const double head2 = std::stod(v2);
  EXPECT_NE(lst.find(qmr::format(qmr::Layout("(I5,E12.5,5X,E12.5)"),
                                 {2, 10.0, head2})),
            std::string::npos);
}

TEST(DataSafety, AFailingRunLeavesEarlierFilesAsTheyWere) {
  auto dir = qmrtest::scratch("keep");
  qmrtest::writeFile(dir / "keep.rst", "precious restart\n");
  qmrtest::writeFile(dir / "keep.vel", "precious velocities\n");
  FlowDeck fd = flowDeck();
  fd.restartOut = "keep.rst";
  fd.velocity = "keep.vel";
  auto r = qmrtest::runDeckIn(
      dir, fd.with(Section::Mesh, 0, "       0.0      10.0     twenty"));
  EXPECT_EQ(r.status, 2); // the record reader's own report
  EXPECT_NE(r.err.find("columns 21-30"), std::string::npos) << r.err;
  EXPECT_EQ(qmrtest::readFile(dir / "keep.rst"), "precious restart\n");
  EXPECT_EQ(qmrtest::readFile(dir / "keep.vel"), "precious velocities\n");
}

TEST(DataSafety, TransportNeverEmptiesTheVelocityFileItReads) {
  auto dir = qmrtest::scratch("velkeep");
  FlowDeck fd = flowDeck();
  fd.velocity = "flow.vel";
  ASSERT_EQ(qmrtest::runDeckIn(dir, fd.text()).status, 0);
  const std::string vel = qmrtest::readFile(dir / "flow.vel");
  ASSERT_FALSE(vel.empty());
  TransportDeck td = transportDeck();
  td.velocity = "flow.vel";
  auto t = qmrtest::runDeckIn(dir, td.text());
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(qmrtest::readFile(dir / "flow.vel"), vel);
}

TEST(DataSafety, FlowStoresEveryProfileOfAStep) {
  FlowDeck fd = flowDeck(); // profiles 1 and 1
  auto r = qmrtest::runDeck("prof2", fd.text());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto g = qmrtest::readGraphic(r.file("run.grf"));
  ASSERT_EQ(g.profSteps.size(), 2u);
  ASSERT_EQ(g.prof.size(), 3u);
  for (int ip = 1; ip <= 3; ++ip)
    EXPECT_EQ(g.profile(0, ip), g.profile(1, ip)) << ip;
  EXPECT_GT(g.profile(1, 3), 1.0); // the head still near 10
}

TEST(DataSafety, TransportStoresAtMostOneProfileAStep) {
  TransportDeck td = transportDeck();
  td.darcy = 0.1;
  td.thick = 10.0;
  td.profiles = {1, 1};
  auto r = qmrtest::runDeck("tprof2", td.text());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto g = qmrtest::readGraphic(r.file("tr.grf"));
  ASSERT_EQ(g.profSteps.size(), 2u);
  ASSERT_EQ(g.prof.size(), 3u);
  EXPECT_EQ(g.profile(0, 1), 1.0); // the inlet concentration
  for (int ip = 1; ip <= 3; ++ip) EXPECT_EQ(g.profile(1, ip), 0.0);
}
