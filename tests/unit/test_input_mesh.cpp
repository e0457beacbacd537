// Mesh input: auxiliary file names, manual, graded and logarithmic meshes,
// and the coordinate and length tables of the listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "input/input.hpp"
#include "input_util.hpp"
#include "io/layout.hpp"

using namespace inputtest;
using qmrtest::Deck;

namespace {

std::vector<std::string> tableHead(const std::string &title,
                                   const std::string &stars,
                                   const std::string &label) {
  return {"", title, stars, "", times(label, 6), times(" -------------- ", 6),
          "", ""};
}

} // namespace

TEST(InputMesh, GradedFineAtNodeOneEchoAndTables) {
  auto s = withMesh("       0.0     100.0       2.0\n", 4);
  s->codes.imshgn = 1;
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  const double len[] = {6.25, 18.75, 31.25, 43.75};
  const double x[] = {0, 6.25, 25, 56.25, 100};
  const double mid[] = {3.125, 15.625, 40.625, 78.125};
  for (int ie = 1; ie <= 4; ++ie) {
    EXPECT_EQ(s->mesh.elen(ie), len[ie - 1]);
    EXPECT_EQ(s->mesh.xcoord(ie), mid[ie - 1]);
  }
  for (int ip = 1; ip <= 5; ++ip) EXPECT_EQ(s->mesh.ecoord(ip), x[ip - 1]);

  std::vector<std::string> want = {
      "", " COORDINATE OF NODE NUMBER 1        =  0.00000E+00",
      " COORDINATE OF NODE NUMBER N        =  0.10000E+03",
      " GRADING FACTOR FOR LINEAR ELEMENTS =  0.20000E+01"};
  for (auto &l :
       tableHead("NODAL COORDINATES", "*****************", " NODE   E-COORD "))
    want.push_back(l);
  want.push_back("    1 0.0000E+00    2 0.6250E+01    3 0.2500E+02"
                 "    4 0.5625E+02    5 0.1000E+03");
  for (auto &l :
       tableHead("ELEMENT LENGTHS", "***************", " ELEM    LENGTH "))
    want.push_back(l);
  want.push_back("    1 0.6250E+01    2 0.1875E+02    3 0.3125E+02"
                 "    4 0.4375E+02");
  EXPECT_EQ(listing(*s), want);
}

TEST(InputMesh, GradedReversedAndCodeFourActsAsOne) {
  auto s = withMesh("       0.0     100.0       2.0\n", 4);
  s->codes.imshgn = 2;
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  const double len[] = {43.75, 31.25, 18.75, 6.25};
  const double x[] = {0, 43.75, 75, 93.75, 100};
  for (int ie = 1; ie <= 4; ++ie) EXPECT_EQ(s->mesh.elen(ie), len[ie - 1]);
  for (int ip = 1; ip <= 5; ++ip) EXPECT_EQ(s->mesh.ecoord(ip), x[ip - 1]);

  // Grading factor 1: equal elements.
  auto u = withMesh("      10.0      20.0       1.0\n", 4);
  u->codes.imshgn = 1;
  qmr::meshgn(u->io, u->opt, u->codes, u->mesh);
  for (int ie = 1; ie <= 4; ++ie) EXPECT_DOUBLE_EQ(u->mesh.elen(ie), 2.5);
  EXPECT_DOUBLE_EQ(u->mesh.ecoord(5), 20.0);
}

TEST(InputMesh, LogarithmicOneToThousand) {
  auto s = withMesh("       1.0    1000.0   99\n", 3);
  s->codes.imshgn = 3;
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  const double x[] = {1, 10, 100, 1000};
  for (int ip = 1; ip <= 4; ++ip)
    EXPECT_DOUBLE_EQ(s->mesh.ecoord(ip), x[ip - 1]);
  EXPECT_DOUBLE_EQ(s->mesh.elen(1), 9.0);
  EXPECT_DOUBLE_EQ(s->mesh.elen(2), 90.0);
  EXPECT_DOUBLE_EQ(s->mesh.elen(3), 900.0);
  EXPECT_DOUBLE_EQ(s->mesh.xcoord(3), 550.0);
  auto l = listing(*s);
  ASSERT_GE(l.size(), 7u);
  EXPECT_EQ(l[0], "");
  EXPECT_EQ(l[1], " AUTOMATIC LOGARITHMIC ELEMENT LENGTH GENERATION");
  EXPECT_EQ(l[2], " -----------------------------------------------");
  EXPECT_EQ(l[3], "");
  EXPECT_EQ(l[4],
            " COORDINATE OF NODE 1                        =  0.10000E+01");
  EXPECT_EQ(l[5],
            " COORDINATE OF NODE NP                       =  0.10000E+04");
  EXPECT_EQ(l[6], "");
  EXPECT_EQ(l[7], "");
  EXPECT_EQ(l[8], "NODAL COORDINATES");
}

TEST(InputMesh, ManualCoordinatesOverTwoRecords) {
  for (int code : {0, 5, -1}) {
    Deck d;
    d << "       0.0       1.0       2.0       3.0       4.0       5.0"
         "       6.0       7.0"
      << "       8.0       9.5"
      << "NEXT";
    auto s = withMesh(d.text, 9);
    s->codes.imshgn = code;
    qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
    for (int ip = 1; ip <= 9; ++ip) EXPECT_EQ(s->mesh.ecoord(ip), ip - 1.0);
    EXPECT_EQ(s->mesh.ecoord(10), 9.5);
    EXPECT_EQ(s->mesh.elen(9), 1.5);
    EXPECT_EQ(s->mesh.xcoord(9), 8.75);
    EXPECT_EQ(nextRecord(*s), "NEXT") << "code " << code;
    // Ten pairs: six on the first line, four on the second.
    auto l = listing(*s);
    ASSERT_GE(l.size(), 10u);
    EXPECT_EQ(l[8], "    1 0.0000E+00    2 0.1000E+01    3 0.2000E+01"
                    "    4 0.3000E+01    5 0.4000E+01    6 0.5000E+01");
    EXPECT_EQ(l[9], "    7 0.6000E+01    8 0.7000E+01    9 0.8000E+01"
                    "   10 0.9500E+01");
  }
}

TEST(InputMesh, DecreasingCoordinateGivesNegativeLength) {
  auto s = withMesh("       0.0       5.0       3.0\n", 2);
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  EXPECT_EQ(s->mesh.elen(2), -2.0);
  auto l = listing(*s);
  EXPECT_EQ(l.back(), "    1 0.5000E+01    2-0.2000E+01");
}

TEST(InputMesh, FileNamesReadEchoedAndOpenedBeforeMesh) {
  namespace fs = std::filesystem;
  const fs::path dir = qmrtest::scratch("input-mesh");
  const std::string rea = (dir / "old.rst").string();
  const std::string wri = (dir / "new.rst").string();
  const std::string dar = (dir / "vel.dat").string();
  qmrtest::writeFile(rea, "kept\n");
  Deck d;
  d << rea << "ignored 1" << wri << "ignored 2" << dar << "ignored 3"
    << "       0.0       1.0";
  auto s = withMesh(d.text, 1);
  s->codes.ioread = 1;
  s->codes.iowrit = 1;
  s->codes.iodarc = 2; // any positive code names a velocity file
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  auto l = listing(*s);
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[0], "  RESTART READ  FILE = " + qmr::padded(rea, 200));
  EXPECT_EQ(l[1], "  RESTART WRITE FILE = " + qmr::padded(wri, 200));
  EXPECT_EQ(l[2], "  VELOCITY FILE = " + qmr::padded(dar, 200));
  EXPECT_EQ(s->mesh.ecoord(2), 1.0);
  EXPECT_TRUE(s->io.restartIn.isOpen());
  EXPECT_TRUE(s->io.restartOut.isOpen());
  EXPECT_TRUE(s->io.velocity.isOpen());
  std::string rec;
  ASSERT_TRUE(s->io.restartIn.next(rec)); // an existing file is left as it is
  EXPECT_EQ(rec, "kept");
  EXPECT_TRUE(fs::exists(wri)); // a missing one is created
  EXPECT_TRUE(fs::exists(dar));
  s->io.restartIn.close();
  s->io.restartOut.close();
  s->io.velocity.close();
  fs::remove_all(dir);
}

TEST(InputMesh, RestartNameRecordsMissingEndTheRun) {
  // No name record, then a name without the record that follows it.
  for (const char *deck : {"", "old.rst\n"}) {
    auto s = withMesh(deck, 1);
    s->codes.ioread = 1;
    EXPECT_EQ(
        stopStatus([&] { qmr::meshgn(s->io, s->opt, s->codes, s->mesh); }),
        qmr::kExitFailure);
    EXPECT_EQ(lastLine(*s), kMainFail);
    EXPECT_FALSE(s->io.restartIn.isOpen());
    EXPECT_EQ(listing(*s).size(), 1u); // nothing echoed
  }
}
