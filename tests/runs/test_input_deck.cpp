// Whole decks through the model-definition input.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support.hpp"

using qmrtest::lines;

namespace {

// A two-element transport deck with the given velocity code; with a
// positive code the velocity file is named "C:\QMR\VEL.DAT".
std::string transportDeck(int iodarc) {
  qmrtest::TransportDeck t;
  t.title = "job title";
  t.ne = 2;
  t.codes.imshgn = 0;
  t.codes.itsgn = 0;
  t.codes.ipcode = 0;
  t.codes.iodarc = iodarc;
  if (iodarc > 0) t.velocity = "C:\\QMR\\VEL.DAT";
  t.coords = {0.0, 10.0, 20.0};
  t.totals = {1.0};
  t.media = {{1.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 2.0}};
  t.values = {{1, 1.0}};
  t.darcy = 0.5;
  t.thick = 10.0;
  t.observations = {2};
  return t.text();
}

} // namespace

TEST(InputDeck, TransportWithoutVelocitySourceIsRejected) {
  auto r = qmrtest::runDeck("input-iodarc3", transportDeck(3));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("code for reading/writing Darcy velocities 3"),
            std::string::npos)
      << r.err;
  auto l = lines(r.file("run.lst"));
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l.back(), " ****ERROR OR END OF FILE ON MAIN INPUT****");
  // A velocity file that a transport run would only read is not created.
  EXPECT_FALSE(r.exists("VEL.DAT"));
  EXPECT_EQ(r.file("run.grf"), ""); // the run ended before the headings
  std::filesystem::remove_all(r.dir);
}

TEST(InputDeck, TransportWithDefaultVelocityRuns) {
  auto r = qmrtest::runDeck("input-iodarc0", transportDeck(0));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string lst = r.file("run.lst");
  EXPECT_NE(lst.find("     DEFAULT DARCY VELOCITY    = .5000000E+00\n"
                     "     DEFAULT AQUIFER THICKNESS = .1000000E+02\n"),
            std::string::npos);
  auto g = lines(r.file("run.grf"));
  ASSERT_GE(g.size(), 2u);
  EXPECT_EQ(g[0], "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  2)   OBS.(");
  EXPECT_EQ(g[1], " ");
  std::filesystem::remove_all(r.dir);
}

TEST(InputDeck, TypedTimesThatGoBackAreTold) {
  // Totals 1, 3, 2: the third step would end before the second, though
  // every time exceeds the initial time 0.
  qmrtest::TransportDeck t;
  t.ne = 2;
  t.nts = 3;
  t.codes.imshgn = 0;
  t.codes.itsgn = 0;
  t.coords = {0.0, 10.0, 20.0};
  t.totals = {1.0, 3.0, 2.0};
  t.media = {{1.0, 0.0, 0.3}};
  t.values = {{1, 1.0}};
  t.darcy = 0.5;
  auto r = qmrtest::runDeck("input-times-back", t.text());
  EXPECT_NE(r.err.find("the time at the end of step 3, 2, does not exceed "
                       "the time 3 before it"),
            std::string::npos)
      << r.err;
  std::filesystem::remove_all(r.dir);
}

TEST(InputDeck, VelocityBlockForALongerMeshIsTold) {
  // A velocity file of three elements read once by a run of two: the first
  // two are taken, and the third tells of a file made for another mesh.
  auto dir = qmrtest::scratch("input-vel-longer");
  std::string vel;
  for (int ie = 1; ie <= 3; ++ie)
    vel += qmrtest::velocityRecord(ie, 0.5, 10.0, 0.0, 0.0) + "\n";
  qmrtest::writeFile(dir / "VEL.DAT", vel);
  auto r = qmrtest::runDeckIn(dir, transportDeck(1));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("VEL.DAT, record 3, columns 1-5 (velocity block): "
                       "element 3 follows the block of 2 elements"),
            std::string::npos)
      << r.err;
  std::filesystem::remove_all(dir);
}
