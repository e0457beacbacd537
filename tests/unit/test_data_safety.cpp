// Whole runs: files the deck names are never lost, zero has no sign in the
// outputs, and profiles are stored as each run type does it.
#include <gtest/gtest.h>

#include "layout/layout.hpp"
#include "support.hpp"

using qmrtest::col;
using qmrtest::Deck;
using qmrtest::lines;

namespace {

std::string f10(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10.4f", v);
  return buf;
}

struct FlowDeck {
  int ne = 2;
  int nts = 2;
  std::string readName;  // restart file to read (ioread = 1 when set)
  std::string writeName; // restart file to write (iowrit = 1 when set)
  std::string velName;   // velocity file (iodarc = 1 when set)
  int profiles[2] = {1, 1};
  std::string mesh;      // overrides the coordinate record
  double initial = 10.0; // default initial head

  std::string text() const {
    Deck d;
    d << "F OW"
      << "run.lst"
      << "run.grf"
      << "title";
    d << col(ne, 5) + col(nts, 5) + col(1, 5) + col(1, 5) + col(0, 5) +
             col(0, 5) + col(1, 5) + col(2, 5);
    d << col(0, 5) + col(0, 5) + col(1, 5) + col(0, 5) +
             col(readName.empty() ? 0 : 1, 5) +
             col(writeName.empty() ? 0 : 1, 5) +
             col(velName.empty() ? 0 : 1, 5) + col(1, 5) + col(0, 5) +
             col(0, 5) + col(0, 5);
    if (!readName.empty()) d << readName << "ignored";
    if (!writeName.empty()) d << writeName << "ignored";
    if (!velName.empty()) d << velName << "ignored";
    std::string coords;
    for (int i = 0; i <= ne; ++i) coords += f10(10.0 * i);
    d << (mesh.empty() ? coords : mesh);
    for (int i = 0; i < ne; ++i) d << col(1, 5);
    // K, Ss, S, thickness, recharge, leakage, fixed head, width, max rate
    d << f10(1.0) + f10(0.0) + f10(0.1) + f10(10.0) + f10(0.0) + f10(0.0) +
             f10(0.0) + f10(1.0) + f10(0.0);
    d << f10(0.0) + f10(1.0) + col(0, 5);  // linear steps of 1 from 0
    d << col(1, 5) + col(1, 5) + f10(0.0); // node 1 held at 0
    if (readName.empty()) d << f10(initial);
    d << col(ne + 1, 5);
    d << col(profiles[0], 5) << col(profiles[1], 5);
    return d.text;
  }
};

// Value of the profile table of a graphic file: column k (1-based) of the
// row of node ip.
double profileValue(const std::string &graphic, int ip, int k) {
  auto ls = lines(graphic);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    if (ls[i].rfind("    1.NODE", 0) == 0) {
      const std::string &row = ls[i + 1 + static_cast<std::size_t>(ip)];
      return std::stod(
          row.substr(10 + 12 * static_cast<std::size_t>(1 + k), 12));
    }
  }
  ADD_FAILURE() << "no profile table";
  return -1;
}

} // namespace

TEST(DataSafety, ZeroLeakageOfAFallingHeadHasNoSign) {
  FlowDeck fd;
  fd.velName = "run.vel";
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
  FlowDeck first;
  first.writeName = "same.rst";
  auto a = qmrtest::runDeckIn(dir, first.text());
  ASSERT_EQ(a.status, 0) << a.err;
  auto before = lines(qmrtest::readFile(dir / "same.rst"));
  ASSERT_EQ(before.size(), 3u);

  // One element fewer: the third record is not read, and the file that is
  // written back holds exactly the two records of this run.
  FlowDeck second;
  second.ne = 1;
  second.readName = "same.rst";
  second.writeName = "C:\\QMR\\same.rst";
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
  FlowDeck fd;
  fd.writeName = "keep.rst";
  fd.velName = "keep.vel";
  fd.mesh = "       0.0      10.0     twenty";
  auto r = qmrtest::runDeckIn(dir, fd.text());
  EXPECT_EQ(r.status, 2); // the record reader's own report
  EXPECT_NE(r.err.find("columns 21-30"), std::string::npos) << r.err;
  EXPECT_EQ(qmrtest::readFile(dir / "keep.rst"), "precious restart\n");
  EXPECT_EQ(qmrtest::readFile(dir / "keep.vel"), "precious velocities\n");
}

TEST(DataSafety, TransportNeverEmptiesTheVelocityFileItReads) {
  auto dir = qmrtest::scratch("velkeep");
  FlowDeck fd;
  fd.velName = "flow.vel";
  ASSERT_EQ(qmrtest::runDeckIn(dir, fd.text()).status, 0);
  const std::string vel = qmrtest::readFile(dir / "flow.vel");
  ASSERT_FALSE(vel.empty());
  Deck d;
  d << "T OW"
    << "tr.lst"
    << "tr.grf"
    << "title";
  d << "    2    2    1    1    0    0    1    0";
  d << "    0    0    1    0    0    0    1    1    0    0    0";
  d << "flow.vel"
    << "ignored";
  d << f10(0) + f10(10) + f10(20);
  d << "    1"
    << "    1";
  d << f10(1.0) + f10(0.0) + f10(0.3) + f10(1.0);
  d << f10(0.0) + f10(1.0) + col(0, 5);
  d << "    1    1       1.0";
  d << f10(0.0);
  d << "    3";
  auto t = qmrtest::runDeckIn(dir, d.text);
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(qmrtest::readFile(dir / "flow.vel"), vel);
}

TEST(DataSafety, FlowStoresEveryProfileOfAStep) {
  FlowDeck fd; // profiles 1 and 1
  auto r = qmrtest::runDeck("prof2", fd.text());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string g = r.file("run.grf");
  for (int ip = 1; ip <= 3; ++ip)
    EXPECT_EQ(profileValue(g, ip, 1), profileValue(g, ip, 2)) << ip;
  EXPECT_GT(profileValue(g, 3, 2), 1.0); // the head still near 10
}

TEST(DataSafety, TransportStoresAtMostOneProfileAStep) {
  Deck d;
  d << "T OW"
    << "tr.lst"
    << "tr.grf"
    << "title";
  d << "    2    2    1    1    0    0    1    2";
  d << "    0    0    1    0    0    0    0    1    0    0    0";
  d << f10(0) + f10(10) + f10(20);
  d << "    1"
    << "    1";
  d << f10(1.0) + f10(0.0) + f10(0.3) + f10(1.0);
  d << f10(0.0) + f10(1.0) + col(0, 5);
  d << "    1    1       1.0";
  d << f10(0.0);
  d << f10(0.1) + f10(10.0);
  d << "    3"
    << "    1"
    << "    1";
  auto r = qmrtest::runDeck("tprof2", d.text);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string g = r.file("tr.grf");
  EXPECT_EQ(profileValue(g, 1, 1), 1.0); // the inlet concentration
  for (int ip = 1; ip <= 3; ++ip) EXPECT_EQ(profileValue(g, ip, 2), 0.0);
}
