// Material properties of both run types: reading, defaults, echoes, the
// three ways of assigning media to elements, and the element tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input.hpp"
#include "input_util.hpp"
#include "io/layout.hpp"

using namespace inputtest;
using qmrtest::Deck;

namespace {

std::unique_ptr<qmr::State> propState(const std::string &deck, int ne, int nmat,
                                      int ipcode) {
  auto s = withMesh(deck, ne);
  s->media.nmat = nmat;
  s->codes.ipcode = ipcode;
  unitMesh(*s);
  return s;
}

} // namespace

TEST(InputFlowProps, PerElementMediaDefaultsEchoAndTable) {
  Deck d;
  d << "    1"
    << "    2"
    << "    1";
  d << qmrtest::fields(
      {"10.0", "1.0E-4", "0.1", "0.0", "0.001", "0.01", "5.0", "0.0", "0.0"});
  d << qmrtest::fields(
      {"2.0", "0.0", "0.2", "-3.0", "0.0", "0.0", "0.0", "50.0", "1.0E-12"});
  auto s = propState(d.text, 3, 2, 0);
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);

  // Width 0 and thickness 0 (confined) mean 1.0; 1e-12 is above 1e-15.
  EXPECT_EQ(s->media.prop(8, 1), 1.0);
  EXPECT_EQ(s->media.prop(4, 1), 1.0);
  EXPECT_EQ(s->media.prop(4, 2), -3.0);
  EXPECT_EQ(s->media.prop(9, 2), 1.0E-12);
  EXPECT_EQ(s->fprop.ilqmax, 1);
  // Elements 1 and 3 medium 1, element 2 medium 2.
  EXPECT_EQ(s->fprop.etran(1), 10.0);
  EXPECT_EQ(s->fprop.etran(2), 100.0);
  EXPECT_EQ(s->fprop.etran(3), 10.0);
  EXPECT_EQ(s->fprop.estor(2), 0.2 * 50.0);
  EXPECT_EQ(s->fprop.ebott(2), -3.0);
  EXPECT_EQ(s->fprop.ewide(2), 50.0);
  // 1e-12 is below the element threshold: no limit, conductivity x width.
  EXPECT_EQ(s->fprop.iqmax(2), 0);
  EXPECT_EQ(s->fprop.eqmax(2), 100.0);
  EXPECT_EQ(s->fprop.eqmax(1), 10.0);

  std::vector<std::string> want = {
      "",
      "MATERIAL PROPERTIES FOR MEDIUM 1",
      "********************************",
      "",
      "  HYDRAULIC CONDUCTIVITY          =  0.10000E+02",
      "  SPECIFIC STORAGE                =  0.10000E-03",
      "  STORAGE COEFFICIENT             =  0.10000E+00",
      "  AQUIFER THICKNESS/BASE ELEV.    =  0.10000E+01",
      "  DISTRIBUTED RECHARGE            =  0.10000E-02",
      "  AQUITARD LEAKAGE COEFFICIENT    =  0.10000E-01",
      "  FIXED HEAD BEYOND AQUITARD      =  0.50000E+01",
      "  MAXIMUM LEAKAGE RATE            =  0.00000E+00",
      "  AQUIFER WIDTH                   =  0.10000E+01",
      "",
      "",
      "MATERIAL PROPERTIES FOR MEDIUM 2",
      "********************************",
      "",
      "  HYDRAULIC CONDUCTIVITY          =  0.20000E+01",
      "  SPECIFIC STORAGE                =  0.00000E+00",
      "  STORAGE COEFFICIENT             =  0.20000E+00",
      "  AQUIFER THICKNESS/BASE ELEV.    = -0.30000E+01",
      "  DISTRIBUTED RECHARGE            =  0.00000E+00",
      "  AQUITARD LEAKAGE COEFFICIENT    =  0.00000E+00",
      "  FIXED HEAD BEYOND AQUITARD      =  0.00000E+00",
      "  MAXIMUM LEAKAGE RATE            =  0.10000E-11",
      "  AQUIFER WIDTH                   =  0.50000E+02",
      "",
      "0.1000E+020.1000E-030.1000E+000.1000E+010.1000E-020.1000E-01"
      "0.5000E+010.1000E+010.1000E+02",
      "0.1000E+030.0000E+000.1000E+02-.3000E+010.0000E+000.0000E+00"
      "0.0000E+000.5000E+020.1000E+03",
      "0.1000E+020.1000E-030.1000E+000.1000E+010.1000E-020.1000E-01"
      "0.5000E+010.1000E+010.1000E+02"};
  EXPECT_EQ(listing(*s), want);
}

TEST(InputFlowProps, LeakageCapThresholds) {
  Deck d;
  d << "    1"
    << "    2"
    << "    3";
  // A cap above 1e-10 applies; a cap of 0 falls back to the conductivity;
  // with the water-table option a base elevation of 0 stays 0.
  d << qmrtest::fields({"3.0", "", "", "0.0", "", "", "", "2.0", "2.0E-10"});
  d << qmrtest::fields({"3.0", "", "", "", "", "", "", "-5.0", "0.0"});
  d << qmrtest::fields({"3.0", "", "", "", "", "", "", "", "0.5"});
  auto s = propState(d.text, 3, 3, 0);
  s->codes.i2dwt = 1;
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);
  EXPECT_EQ(s->fprop.ilqmax, 1);
  EXPECT_EQ(s->fprop.ebott(1), 0.0);
  EXPECT_EQ(s->fprop.iqmax(1), 1);
  EXPECT_EQ(s->fprop.eqmax(1), 2.0E-10 * 2.0);
  EXPECT_EQ(s->fprop.iqmax(2), 0);
  EXPECT_EQ(s->fprop.etran(2), -15.0); // a width of -5 multiplies in unchanged
  EXPECT_EQ(s->fprop.eqmax(2), -15.0);
  EXPECT_EQ(s->fprop.iqmax(3), 1);
  EXPECT_EQ(s->fprop.eqmax(3), 0.5);

  // No medium with a cap: ilqmax stays 0.
  auto n = propState("    1\n" + qmrtest::fields({"3.0"}) + "\n", 1, 1, 0);
  n->fprop.ilqmax = 1;
  qmr::mpropf(n->io, n->opt.values, n->codes, n->mesh, n->media, n->fprop);
  EXPECT_EQ(n->fprop.ilqmax, 0);
}

TEST(InputFlowProps, SinglePrecisionThresholds) {
  Deck d;
  d << "    1"
    << "    2";
  // The thickness threshold is 1e-9 in single precision (just below 1e-9):
  // a typed 1e-9 stays, 5e-10 means unit thickness. The element threshold
  // of the cap is 1e-10 in single precision (just above 1e-10): a typed
  // 1e-10 is below it and falls back to the conductivity. A typed 1e-15 is
  // not above its single-precision threshold: that medium limits nothing.
  d << qmrtest::fields({"3.0", "", "", "1.0E-9", "", "", "", "2.0", "1.0E-10"});
  d << qmrtest::fields(
      {"3.0", "", "", "5.0E-10", "", "", "", "2.0", "1.0E-15"});
  auto s = propState(d.text, 2, 2, 0);
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);
  EXPECT_EQ(s->fprop.ebott(1), 1.0E-9);
  EXPECT_EQ(s->fprop.ebott(2), 1.0);
  EXPECT_EQ(s->fprop.iqmax(1), 0);
  EXPECT_EQ(s->fprop.eqmax(1), 6.0);
  EXPECT_EQ(s->fprop.ilqmax, 1); // medium 1 (1e-10 is above 1e-15)

  auto n = propState(
      "    1\n" +
          qmrtest::fields({"3.0", "", "", "", "", "", "", "", "1.0E-15"}) +
          "\n",
      1, 1, 0);
  qmr::mpropf(n->io, n->opt.values, n->codes, n->mesh, n->media, n->fprop);
  EXPECT_EQ(n->fprop.ilqmax, 0);
}

TEST(InputFlowProps, UniformZones) {
  Deck d;
  d << "    1"
    << "    6" << qmrtest::fields({"1.0"}) << qmrtest::fields({"2.0"});
  auto s = propState(d.text, 10, 2, 1);
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);
  EXPECT_EQ(s->media.lmat(3), 11); // the appended end of the last zone
  for (int ie = 1; ie <= 5; ++ie) EXPECT_EQ(s->fprop.etran(ie), 1.0);
  for (int ie = 6; ie <= 10; ++ie) EXPECT_EQ(s->fprop.etran(ie), 2.0);
}

TEST(InputFlowProps, InterpolatedBetweenControlNodes) {
  Deck d;
  d << "    1"
    << "    5" << qmrtest::fields({"1.0", "", "", "", "", "", "", "", ""})
    << qmrtest::fields({"5.0", "", "", "", "", "", "", "", ""});
  auto s = propState(d.text, 4, 2, 2);
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);
  const double want[] = {1.5, 2.5, 3.5, 4.5};
  for (int ie = 1; ie <= 4; ++ie) {
    EXPECT_EQ(s->fprop.etran(ie), want[ie - 1]);
    EXPECT_EQ(s->fprop.ewide(ie), 1.0);
    EXPECT_EQ(s->fprop.ebott(ie), 1.0);
  }

  // One control medium assigns nothing: the element table is all zeros.
  auto one = propState("    1\n" + qmrtest::fields({"7.0"}) + "\n", 2, 1, 2);
  qmr::mpropf(one->io, one->opt.values, one->codes, one->mesh, one->media,
              one->fprop);
  EXPECT_EQ(one->fprop.etran(1), 0.0);
  EXPECT_EQ(lastLine(*one), times("0.0000E+00", 9));
}

TEST(InputTransportProps, DefaultsEchoAndPorosityTimesWidth) {
  Deck d;
  d << "    1"
    << "    2"
    << "    1";
  // Columns 81-90 hold a value that has no effect.
  d << qmrtest::fields(
      {"10.0", "1.0E-9", "0.3", "0.0", "0.01", "100.0", "5.0", "0.0", "9.0"});
  d << qmrtest::fields(
      {"1.0", "0.0", "0.25", "0.5", "0.0", "0.0", "0.0", "40.0", "123.0"});
  auto s = propState(d.text, 3, 2, 0);
  qmr::mpropt(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop,
              s->tprop);
  EXPECT_EQ(s->tprop.poros(1), 0.3);
  EXPECT_EQ(s->fprop.ewide(1), 1.0);
  EXPECT_EQ(s->tprop.retar(1), 1.0);
  EXPECT_EQ(s->tprop.poros(2), 10.0);
  EXPECT_EQ(s->fprop.ewide(2), 40.0);
  EXPECT_EQ(s->tprop.retar(2), 0.5);
  EXPECT_EQ(s->tprop.alfal(2), 1.0);
  EXPECT_EQ(s->tprop.crech(1), 100.0);
  EXPECT_EQ(s->tprop.cleak(3), 5.0);
  EXPECT_EQ(s->media.prop(9, 1), 0.0); // the ninth field is not stored
  EXPECT_EQ(s->media.prop(9, 2), 0.0);

  auto l = listing(*s);
  std::vector<std::string> first = {
      "",
      "MATERIAL PROPERTIES FOR MEDIUM 1",
      "********************************",
      "",
      "  EFFECTIVE LONGITUDINAL DISPERSIVITY        =  0.10000E+02",
      "  EFFECTIVE DIFFUSION COEFFICIENT            =  0.10000E-08",
      "  EFFECTIVE POROSITY                         =  0.30000E+00",
      "  RETARDATION FACTOR                         =  0.10000E+01",
      "  DECAY COEFFICIENT                          =  0.10000E-01",
      "  CONCENTRATION OF SURFACE RECHARGE          =  0.10000E+03",
      "  CONCENTRATION OF FLUID IN LEAKY AQUITARD   =  0.50000E+01",
      "  AQUIFER WIDTH                              =  0.10000E+01",
      ""};
  ASSERT_EQ(l.size(), 2 * first.size() + 3);
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(l[i], first[i]);
  EXPECT_EQ(l[first.size() + 1], "MATERIAL PROPERTIES FOR MEDIUM 2");
  EXPECT_EQ(l[2 * first.size() + 1],
            "0.1000E+010.0000E+000.1000E+020.5000E+000.0000E+000.0000E+00"
            "0.0000E+000.4000E+02");
}

TEST(InputTransportProps, InterpolatedDispersivityAndMediumTenHeading) {
  Deck d;
  d << "    1"
    << "    5" << qmrtest::fields({"1.0"}) << qmrtest::fields({"5.0"});
  auto s = propState(d.text, 4, 2, 2);
  qmr::mpropt(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop,
              s->tprop);
  const double want[] = {1.5, 2.5, 3.5, 4.5};
  for (int ie = 1; ie <= 4; ++ie) EXPECT_EQ(s->tprop.alfal(ie), want[ie - 1]);

  // Medium 10 does not fit the one-column field of the heading.
  Deck t;
  for (int i = 1; i <= 10; ++i) t << qmrtest::col(i, 5);
  for (int i = 1; i <= 10; ++i) t << qmrtest::fields({"1.0"});
  auto ten = propState(t.text, 10, 10, 1);
  qmr::mpropt(ten->io, ten->opt.values, ten->codes, ten->mesh, ten->media,
              ten->fprop, ten->tprop);
  auto l = listing(*ten);
  int found = 0;
  for (auto &line : l) found += line == "MATERIAL PROPERTIES FOR MEDIUM *";
  EXPECT_EQ(found, 1);
}

// Medium and zone numbers must stay inside the tables they index.
TEST(InputProps, MediumAndZoneNumbersOutsideTheirRangeEndTheRun) {
  struct Case {
    std::string deck;
    int ne, nmat, ipcode;
    std::string diag;
  };
  const std::vector<Case> cases = {
      {"    1\n    3\n", 2, 2, 0,
       "main input record 2: medium number 3 of element 2 is outside 1..2"},
      {"    0\n", 1, 1, 0,
       "main input record 1: medium number 0 of element 1 is outside 1..1"},
      {"    0\n    3\n", 4, 2, 1,
       "main input record 1: zone start 0 is outside 1..5"},
      {"    1\n    6\n", 4, 2, 2,
       "main input record 2: zone start 6 is outside 1..5"},
      {"    1\n    4\n    3\n", 4, 3, 2,
       "main input record 3: zone start 3 of medium 3 does not follow the "
       "start 4 of medium 2"},
      {"    2\n    2\n", 4, 2, 1,
       "main input record 2: zone start 2 of medium 2 does not follow the "
       "start 2 of medium 1"},
  };
  for (bool flow : {true, false}) {
    for (const auto &c : cases) {
      auto s = propState(c.deck, c.ne, c.nmat, c.ipcode);
      EXPECT_EQ(stopStatus([&] {
                  flow ? qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh,
                                     s->media, s->fprop)
                       : qmr::mpropt(s->io, s->opt.values, s->codes, s->mesh,
                                     s->media, s->fprop, s->tprop);
                }),
                qmr::kExitFailure);
      EXPECT_EQ(s->io.diag, c.diag);
      EXPECT_EQ(lastLine(*s), kMainFail);
    }
  }
  // Zone starts are not checked for other codes, which assign nothing.
  auto other = propState("    0\n" + qmrtest::fields({"1.0"}) + "\n", 2, 1, 3);
  qmr::mpropf(other->io, other->opt.values, other->codes, other->mesh,
              other->media, other->fprop);
  EXPECT_EQ(other->fprop.etran(1), 0.0);
}

// The medium or zone numbers are one read: with no number to read it still
// takes one record, whose content does not matter.
TEST(InputProps, AnEmptyNumberListStillTakesOneRecord) {
  for (bool flow : {true, false}) {
    auto z = propState("SKIPPED\nNEXT\n", 2, 0, 1);
    flow ? qmr::mpropf(z->io, z->opt.values, z->codes, z->mesh, z->media,
                       z->fprop)
         : qmr::mpropt(z->io, z->opt.values, z->codes, z->mesh, z->media,
                       z->fprop, z->tprop);
    EXPECT_EQ(z->media.lmat(1), 3);
    EXPECT_EQ(nextRecord(*z), "NEXT");

    // No element: the per-element list is empty, one record is skipped
    // and the medium record follows it.
    auto e =
        propState("xxxxx\n" + qmrtest::fields({"4.0"}) + "\nNEXT\n", 0, 1, 0);
    flow ? qmr::mpropf(e->io, e->opt.values, e->codes, e->mesh, e->media,
                       e->fprop)
         : qmr::mpropt(e->io, e->opt.values, e->codes, e->mesh, e->media,
                       e->fprop, e->tprop);
    EXPECT_EQ(e->media.prop(1, 1), 4.0);
    EXPECT_EQ(nextRecord(*e), "NEXT");

    // The record must exist: end of file is the main-input failure.
    auto m = propState("", 0, 1, 0);
    EXPECT_EQ(stopStatus([&] {
                flow ? qmr::mpropf(m->io, m->opt.values, m->codes, m->mesh,
                                   m->media, m->fprop)
                     : qmr::mpropt(m->io, m->opt.values, m->codes, m->mesh,
                                   m->media, m->fprop, m->tprop);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*m), kMainFail);
  }
}

TEST(InputProps, PerElementRecordFailures) {
  // End of file: both run types end with the main-input failure.
  for (bool flow : {true, false}) {
    auto s = propState("    1\n", 2, 1, 0);
    EXPECT_EQ(stopStatus([&] {
                flow ? qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh,
                                   s->media, s->fprop)
                     : qmr::mpropt(s->io, s->opt.values, s->codes, s->mesh,
                                   s->media, s->fprop, s->tprop);
              }),
              qmr::kExitFailure);
    EXPECT_EQ(lastLine(*s), kMainFail);
  }
  // A malformed number: the reader's own report in a flow run, the
  // main-input failure in a transport run.
  auto f = propState("    x\n", 1, 1, 0);
  EXPECT_THROW(
      qmr::mpropf(f->io, f->opt.values, f->codes, f->mesh, f->media, f->fprop),
      qmr::ReaderFault);
  auto t = propState("    x\n", 1, 1, 0);
  EXPECT_EQ(stopStatus([&] {
              qmr::mpropt(t->io, t->opt.values, t->codes, t->mesh, t->media,
                          t->fprop, t->tprop);
            }),
            qmr::kExitFailure);
  EXPECT_EQ(lastLine(*t), kMainFail);
  // The media records carry no check of their own.
  auto m = propState("    1\n", 1, 1, 0);
  EXPECT_THROW(
      qmr::mpropf(m->io, m->opt.values, m->codes, m->mesh, m->media, m->fprop),
      qmr::ReaderFault);
}
