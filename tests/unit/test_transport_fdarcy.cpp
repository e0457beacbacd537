// Per-step velocity input: one block of the velocity file before each step.
#include <gtest/gtest.h>

#include <cstdio>

#include "fem/fem.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmr::State;

// One record of the velocity file: element, q, thickness, leakage, recharge.
std::string rec(int ie, double q, double b, double leak, double rch) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%5d%15.7E%15.7E%15.7E%15.7E", ie, q, b, leak,
                rch);
  return buf;
}

// Block k (1-based) of a file for three elements: the values tell the block
// and the element apart.
std::string block(int k) {
  std::string t;
  for (int ie = 1; ie <= 3; ++ie)
    t += rec(ie, k + 0.1 * ie, 10.0 * k + ie, 0.01 * k, 0.001 * ie) + "\n";
  return t;
}

std::unique_ptr<State> velocityState(int iodarc, const std::string &file) {
  auto s = qmrtest::memState("");
  s->mesh.ne = 3;
  s->mesh.np = 4;
  s->codes.iodarc = iodarc;
  s->io.velocity.openText("velocity", file);
  return s;
}

TEST(TransportVelocities, OnlyCodeTwoReadsBeforeEachStep) {
  for (int code : {0, 1, 3}) {
    auto s = velocityState(code, block(1));
    s->tprop.darcy(1) = 7.0;
    s->tprop.thick(2) = 8.0;
    for (int step = 1; step <= 3; ++step)
      qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop);
    EXPECT_EQ(s->tprop.darcy(1), 7.0) << code;
    EXPECT_EQ(s->tprop.thick(2), 8.0) << code;
    std::string first;
    ASSERT_TRUE(s->io.velocity.next(first)) << code; // nothing was consumed
    EXPECT_EQ(first, rec(1, 1.1, 11.0, 0.01, 0.001));
  }
}

TEST(TransportVelocities, StepKUsesBlockK) {
  std::string file;
  for (int k = 1; k <= 5; ++k) file += block(k);
  auto s = velocityState(2, file);
  for (int k = 1; k <= 5; ++k) {
    qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop);
    for (int ie = 1; ie <= 3; ++ie) {
      EXPECT_DOUBLE_EQ(s->tprop.darcy(ie), k + 0.1 * ie);
      EXPECT_DOUBLE_EQ(s->tprop.thick(ie), 10.0 * k + ie);
      EXPECT_DOUBLE_EQ(s->tprop.qleak(ie), 0.01 * k);
      EXPECT_DOUBLE_EQ(s->tprop.qrech(ie), 0.001 * ie);
    }
  }
  EXPECT_EQ(s->io.lst().text(), ""); // nothing to report
}

TEST(TransportVelocities, FileOneBlockShortEndsTheRunAtTheLastStep) {
  std::string file;
  for (int k = 1; k <= 4; ++k) file += block(k);
  auto s = velocityState(2, file);
  for (int k = 1; k <= 4; ++k)
    qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop);
  EXPECT_THROW(qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop),
               qmr::StopRun);
  auto out = qmrtest::lines(s->io.lst().text());
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), " ****ERROR OR END OF FILE ON DARCY FILE****");
}

TEST(TransportVelocities, MalformedRecordEndsTheRun) {
  auto s = velocityState(2, rec(1, 1, 1, 0, 0) + "\n    2  1.0.0\n");
  EXPECT_THROW(qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop),
               qmr::StopRun);
  EXPECT_EQ(qmrtest::lines(s->io.lst().text()).back(),
            " ****ERROR OR END OF FILE ON DARCY FILE****");
  EXPECT_EQ(s->tprop.darcy(1), 1.0); // the record before the fault is stored
}

TEST(TransportVelocities, RecordOutOfStepIsReportedAndUsed) {
  std::string file = rec(1, 1.0, 5.0, 0.0, 0.0) + "\n" +
                     rec(7, 2.5, 6.0, 0.5, 0.25) + "\n" +
                     rec(3, 3.0, 7.0, 0.0, 0.0) + "\n";
  auto s = velocityState(2, file);
  ASSERT_NO_THROW(
      qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop));
  EXPECT_EQ(s->io.lst().text(), " PROBLEMS IN READING DARCY VELOCITIES FILE\n");
  EXPECT_EQ(s->tprop.darcy(2), 2.5);
  EXPECT_EQ(s->tprop.thick(2), 6.0);
  EXPECT_EQ(s->tprop.qleak(2), 0.5);
  EXPECT_EQ(s->tprop.qrech(2), 0.25);
  EXPECT_EQ(s->tprop.darcy(3), 3.0); // the block is read to its end
}

TEST(TransportVelocities, NegativeRatesBecomeZero) {
  std::string file = rec(1, -1.0, 5.0, -0.2, 0.3) + "\n" +
                     rec(2, 1.0, 5.0, 0.4, -1.0) + "\n" +
                     rec(3, 1.0, 5.0, 0.0, 0.0) + "\n";
  auto s = velocityState(2, file);
  qmr::fdarcy(s->io, s->codes, s->mesh, s->clock.its, s->tprop);
  EXPECT_EQ(s->tprop.darcy(1), -1.0); // a velocity keeps its sign
  EXPECT_EQ(s->tprop.qleak(1), 0.0);
  EXPECT_EQ(s->tprop.qrech(1), 0.3);
  EXPECT_EQ(s->tprop.qleak(2), 0.4);
  EXPECT_EQ(s->tprop.qrech(2), 0.0);
  EXPECT_EQ(s->io.lst().text(), "");
}

} // namespace
