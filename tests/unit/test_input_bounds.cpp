// Prescribed values and prescribed fluxes of both run types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input.hpp"
#include "input_util.hpp"
#include "io/layout.hpp"

using namespace inputtest;
using qmrtest::Deck;

TEST(InputPrescribed, ValuesHeadingEchoAndTables) {
  Deck d;
  d << "    3    7      12.5"
    << "   11    1     -2.25"
    << "NEXT";
  auto s = withMesh(d.text, 10);
  s->bc.nbt = 2;
  s->res.accum(1) = 9.0;
  qmr::pbc(s->io, s->opt.values, s->mesh, s->bc, s->res);
  EXPECT_EQ(s->bc.idv(1), 3);
  EXPECT_EQ(s->bc.idv(2), 11);
  EXPECT_EQ(s->bc.valb(1), 12.5);
  EXPECT_EQ(s->bc.valb(2), -2.25);
  EXPECT_EQ(s->res.accum(1), 0.0);
  EXPECT_EQ(nextRecord(*s), "NEXT");
  // The D.O.F. column always shows 1, the global DOF repeats the node.
  std::vector<std::string> want = {
      "",
      "PRESCRIBED NODAL VALUES OF HYDRAULIC HEAD",
      "*****************************************",
      "",
      "  BOUNDARY      NODE   D.O.F. GLOBAL DOF PRESCRIBED VALUE",
      "  --------      ----   ------ ---------- ----------------",
      "",
      "",
      "         1         3         1         3    0.1250000E+02",
      "         2        11         1        11   -0.2250000E+01"};
  EXPECT_EQ(listing(*s), want);
}

TEST(InputPrescribed, NothingWithoutNodes) {
  auto s = withMesh("NEXT\n", 3);
  qmr::pbc(s->io, s->opt.values, s->mesh, s->bc, s->res);
  qmr::pbflow(s->io, s->opt.values, s->mesh, s->bc);
  qmr::pbtran(s->io, s->opt.values, s->mesh, s->bc);
  EXPECT_EQ(s->bc.nsb, 0);
  EXPECT_EQ(s->io.listing.text(), "");
  EXPECT_EQ(nextRecord(*s), "NEXT");
}

TEST(InputPrescribed, FlowFluxesKeepTheirDofAndSign) {
  Deck d;
  d << "    2    7      -5.0"
    << "    4    1       3.0";
  auto s = withMesh(d.text, 3);
  s->bc.ndf = 2;
  qmr::pbflow(s->io, s->opt.values, s->mesh, s->bc);
  EXPECT_EQ(s->bc.nsb, 2);
  EXPECT_EQ(s->bc.isbv(1), 2);
  EXPECT_EQ(s->bc.bslod(1), -5.0);
  EXPECT_EQ(s->bc.isbv(2), 4);
  std::vector<std::string> want = {
      "",
      "PRESCRIBED NODAL FLUXES",
      "***********************",
      "",
      "  BOUNDARY      NODE   D.O.F. GLOBAL DOF PRESCRIBED FLUX",
      "  --------      ----   ------ ---------- ---------------",
      "",
      "",
      "         1         2         7         2   -0.5000000E+01",
      "         2         4         1         4    0.3000000E+01"};
  EXPECT_EQ(listing(*s), want);
}

TEST(InputPrescribed, TransportFluxesWarnOncePerNegativeRecord) {
  Deck d;
  d << "    1    9      -1.0       0.0"
    << "    2    1       0.0       0.0"
    << "    3    1      -1.0      -2.0";
  auto s = withMesh(d.text, 3);
  s->bc.ndf = 3;
  qmr::pbtran(s->io, s->opt.values, s->mesh, s->bc);
  EXPECT_EQ(s->bc.nsb, 3);
  EXPECT_EQ(s->bc.bslod(1), -1.0);
  EXPECT_EQ(s->bc.bslqw(3), -2.0);
  EXPECT_EQ(s->bc.isbv(3), 3);
  const std::vector<std::string> warn = {
      " You have prescribed a discharge of concentration !!!!",
      "           ARE YOU SURE THIS IS CORRECT ???",
      "             <PRESS ENTER TO CONTINUE>"};
  std::vector<std::string> want = {
      "",
      "PRESCRIBED NODAL FLUXES",
      "***********************",
      "",
      "  BOUNDARY      NODE   D.O.F. PRESCRIBED FLUX  PRESCRIBED FLUX",
      "                               CONCENTRATION        FLUID   ",
      "  --------      ----   ------ ---------------  ---------------",
      "",
      ""};
  want.insert(want.end(), warn.begin(), warn.end());
  want.push_back(
      "         1         1         9   -0.1000000E+01    0.0000000E+00");
  want.push_back(
      "         2         2         1    0.0000000E+00    0.0000000E+00");
  want.insert(want.end(), warn.begin(), warn.end());
  want.push_back(
      "         3         3         1   -0.1000000E+01   -0.2000000E+01");
  EXPECT_EQ(listing(*s), want);
}

TEST(InputPrescribed, CheckedReadsEndTheRun) {
  for (const char *deck : {"", "    1    1      1x.0\n", "   1.0\n"}) {
    for (int which = 0; which < 3; ++which) {
      auto s = withMesh(deck, 3);
      s->bc.nbt = 1;
      s->bc.ndf = 1;
      EXPECT_EQ(stopStatus([&] {
                  if (which == 0)
                    qmr::pbc(s->io, s->opt.values, s->mesh, s->bc, s->res);
                  if (which == 1)
                    qmr::pbflow(s->io, s->opt.values, s->mesh, s->bc);
                  if (which == 2)
                    qmr::pbtran(s->io, s->opt.values, s->mesh, s->bc);
                }),
                qmr::kExitFailure);
      EXPECT_EQ(lastLine(*s), kMainFail);
    }
  }
}

TEST(InputPrescribed, NodesOutsideTheMeshEndTheRun) {
  struct Case {
    int which;
    std::string deck;
    std::string diag;
    std::string echo;
  };
  const std::vector<Case> cases = {
      {0, "    0    1       1.0\n",
       "main input record 1: prescribed value node 0 is outside 1..11",
       "         1         0         1         0    0.1000000E+01"},
      {0, "    1    1       1.0\n   12    1       1.0\n",
       "main input record 2: prescribed value node 12 is outside 1..11",
       "         2        12         1        12    0.1000000E+01"},
      {1, "   -3    1       1.0\n",
       "main input record 1: prescribed flux node -3 is outside 1..11",
       "         1        -3         1        -3    0.1000000E+01"},
      {2, "    2    1       1.0\n   99    1       1.0       1.0\n",
       "main input record 2: prescribed flux node 99 is outside 1..11",
       "         2        99         1    0.1000000E+01    0.1000000E+01"},
  };
  for (const auto &c : cases) {
    auto s = withMesh(c.deck, 10);
    s->bc.nbt = 2;
    s->bc.ndf = 2;
    EXPECT_EQ(stopStatus([&] {
                if (c.which == 0)
                  qmr::pbc(s->io, s->opt.values, s->mesh, s->bc, s->res);
                if (c.which == 1)
                  qmr::pbflow(s->io, s->opt.values, s->mesh, s->bc);
                if (c.which == 2)
                  qmr::pbtran(s->io, s->opt.values, s->mesh, s->bc);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(s->io.diag, c.diag);
    // The offending record is echoed, then the run ends.
    auto l = listing(*s);
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l.back(), kMainFail);
    EXPECT_EQ(l[l.size() - 2], c.echo);
  }
}
