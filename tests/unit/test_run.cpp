// The run spine: job records, control data, termination and exit statuses,
// the files named by the deck and the progress line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "input/input.hpp"
#include "io/layout.hpp"
#include "run/progress.hpp"
#include "run/run.hpp"
#include "stop/stop.hpp"
#include "support.hpp"

using qmrtest::Deck;
using qmrtest::lines;
using qmrtest::memState;

namespace {

const std::string kMainFail = " ****ERROR OR END OF FILE ON MAIN INPUT****";

std::string echo(const std::string &label, const std::string &name) {
  return " " + label + qmr::padded(name, 200);
}

std::string counts(int ne, int nts, int nmat, int nbt, int ndf, int nonu,
                   int nobs, int ntprof) {
  return qmrtest::record(
      qmrtest::Counts{ne, nts, nmat, nbt, ndf, nonu, nobs, ntprof});
}

} // namespace

TEST(JobFiles, FlowRunWithFluxFile) {
  Deck d;
  d << "Fx"
    << "out.lst"
    << "graf.dat"
    << "flux.dat"
    << "ignored";
  auto s = memState(d.text);
  qmr::open1(s->io, s->opt, s->codes);
  EXPECT_EQ(s->codes.imode, 1);
  EXPECT_EQ(s->codes.iflux, 1);
  auto ls = lines(s->io.lst().text());
  ASSERT_EQ(ls.size(), 3u);
  EXPECT_EQ(ls[0], echo("  OUTPUT  FILE = ", "out.lst"));
  EXPECT_EQ(ls[1], echo("  GRAPHIC FILE = ", "graf.dat"));
  EXPECT_EQ(ls[2], echo("  FLUX    FILE = ", "flux.dat"));
  EXPECT_EQ(ls[0].size(), 218u);
  EXPECT_EQ(s->io.deck.recno(), 5);
}

TEST(JobFiles, DeckVariantCodes) {
  {
    Deck d;
    d << "T OW"
      << "out.lst"
      << "graf.dat"
      << "ignored";
    auto s = memState(d.text);
    qmr::open1(s->io, s->opt, s->codes);
    EXPECT_EQ(s->codes.imode, 2);
    EXPECT_EQ(s->codes.iflux, 0);
    EXPECT_EQ(lines(s->io.lst().text()).size(), 2u);
    EXPECT_EQ(s->io.deck.recno(), 4);
  }
  for (const char *code : {"F 05", "F AN"}) {
    Deck d;
    d << code << "a"
      << "b"
      << "ignored";
    auto s = memState(d.text);
    qmr::open1(s->io, s->opt, s->codes);
    EXPECT_EQ(s->codes.iflux, 0) << code;
  }
  {
    // Lower case is not one of the codes: a flux-file record follows.
    Deck d;
    d << "F ow"
      << "a"
      << "b"
      << "c"
      << "ignored";
    auto s = memState(d.text);
    qmr::open1(s->io, s->opt, s->codes);
    EXPECT_EQ(s->codes.iflux, 1);
    EXPECT_EQ(s->io.deck.recno(), 5);
  }
}

TEST(JobFiles, UnknownRunTypeIsRejectedAfterTheJobRecords) {
  for (const char *first : {"", "f", "t   "}) {
    Deck d;
    d << first << "a"
      << "b"
      << "c"
      << "ignored";
    auto s = memState(d.text);
    EXPECT_EQ(qmrtest::stopStatus([&] { qmr::open1(s->io, s->opt, s->codes); }),
              qmr::kExitFailure);
    EXPECT_EQ(s->codes.imode, 0);
    EXPECT_EQ(s->codes.iflux, 1);
    EXPECT_EQ(lines(s->io.lst().text()).back(), kMainFail);
    EXPECT_NE(s->io.diag.find("neither F"), std::string::npos);
  }
}

TEST(JobFiles, JobRecordsCutShort) {
  Deck d;
  d << "F"
    << "out.lst";
  auto s = memState(d.text);
  EXPECT_EQ(qmrtest::stopStatus([&] { qmr::open1(s->io, s->opt, s->codes); }),
            qmr::kExitFailure);
  EXPECT_EQ(lines(s->io.lst().text()).back(), kMainFail);
  EXPECT_NE(s->io.diag.find("end of file after record 2"), std::string::npos);
}

TEST(JobFiles, Banner) {
  Deck d;
  d << "F OW"
    << "a"
    << "b"
    << "ignored";
  auto s = memState(d.text);
  qmr::open1(s->io, s->opt, s->codes);
  auto ls = lines(s->io.console.text());
  ASSERT_EQ(ls.size(), 37u);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(ls[i], "") << i;
  EXPECT_EQ(ls[36], "");
  std::string bar;
  for (int i = 0; i < 46; ++i) bar += "═";
  const std::string pad(17, ' ');
  EXPECT_EQ(ls[24], pad + "╔" + bar + "╗ ");
  EXPECT_EQ(ls[28], pad + "╠" + bar + "╣ ");
  EXPECT_EQ(ls[35], pad + "╚" + bar + "╝ ");
  EXPECT_EQ(ls[25], pad + "║" + std::string(46, ' ') + "║ ");
  EXPECT_EQ(ls[26], pad + "║" + std::string(10, ' ') +
                        ". . . . .  Q M R  . . . . ." + std::string(9, ' ') +
                        "║ ");
  EXPECT_EQ(ls[33], pad + "║" + std::string(17, ' ') + "VERSION 10.0" +
                        std::string(17, ' ') + "║ ");
  EXPECT_EQ(ls[34], pad + "║      Built for 64 and 32 bit Windows PCs     ║ ");
}

TEST(ControlData, EchoesAndDerivedCounts) {
  Deck d;
  d << counts(4, 3, 2, 2, 1, 1000, 3, 2) + "   77"
    << "    4    1    2    0    0    0    0    1    0    0    1    9";
  auto s = memState(d.text);
  s->codes.imode = 1;
  qmr::input(*s);
  EXPECT_EQ(s->mesh.np, 5);
  EXPECT_EQ(s->mesh.nd, 5);
  EXPECT_EQ(s->mesh.ndofn, 1);
  EXPECT_EQ(s->codes.nonu, 1000);
  EXPECT_EQ(s->codes.imshgn, 1); // 4 acts as 1
  EXPECT_EQ(s->codes.ipcode, 1);
  auto ls = lines(s->io.lst().text());
  ASSERT_EQ(ls.size(), 23u);
  EXPECT_EQ(ls[0], "");
  EXPECT_EQ(ls[1], " NUMBER OF ELEMENTS                               =   4");
  EXPECT_EQ(ls[6], " NUMBER OF NON-UNIFORM INITIAL NODAL VALUES       = ***");
  EXPECT_EQ(ls[8], " NUMBER OF PROFILE PLOTS                          =   2");
  EXPECT_EQ(ls[9], "");
  EXPECT_EQ(ls[10], "");
  EXPECT_EQ(ls[11], " CODE FOR GENERATION OF MESH DATA                 =   4");
  EXPECT_EQ(ls[21], " CODE FOR THE INPUT OF MATERIAL PROPERTIES        =   1");
  EXPECT_EQ(ls[22], "");
}

TEST(ControlData, EmptyCountsRecord) {
  Deck d;
  d << ""
    << "    0    0    1";
  auto s = memState(d.text);
  s->codes.imode = 2;
  qmr::input(*s);
  EXPECT_EQ(s->mesh.ne, 0);
  EXPECT_EQ(s->mesh.np, 1);
  EXPECT_EQ(s->mesh.nd, 1);
}

// Time steps, media and prescribed-flux records are limited to 99,999, the
// most their five-column fields can hold.
TEST(ControlData, CountsBeyondTheirLimitsOrNegative) {
  struct Case {
    std::string rec;
    const char *what;
  } cases[] = {
      {counts(99999, 1, 1, 0, 0, 0, 0, 0),
       "columns 1-5: number of elements 99999 is beyond the limit of 99998"},
      {counts(2, 1, 1, 41, 0, 0, 0, 0),
       "columns 16-20: number of prescribed value nodes 41 is beyond the "
       "limit of 40"},
      {counts(2, 1, 1, 0, 0, 0, 41, 0),
       "columns 31-35: number of observation nodes 41 is beyond the limit "
       "of 40"},
      {counts(2, 1, 1, 0, 0, 0, 0, 41),
       "columns 36-40: number of profile plots 41 is beyond the limit of 40"},
      {counts(2, -1, 1, 0, 0, 0, 0, 0), "time steps -1 is negative"},
      {counts(2, 1, 1, 0, 0, -3, 0, 0), "initial values -3 is negative"},
  };
  for (const auto &c : cases) {
    Deck d;
    d << c.rec << "    0    0    1";
    auto s = memState(d.text);
    s->codes.imode = 1;
    EXPECT_EQ(qmrtest::stopStatus([&] { qmr::input(*s); }), qmr::kExitFailure);
    auto ls = lines(s->io.lst().text());
    EXPECT_EQ(ls.back(), kMainFail) << c.what;
    EXPECT_EQ(ls.size(), 11u); // the counts echo, then the failure
    EXPECT_NE(s->io.diag.find(c.what), std::string::npos) << s->io.diag;
  }
}

TEST(ControlData, ReadFailures) {
  {
    auto s = memState("");
    EXPECT_EQ(qmrtest::stopStatus([&] { qmr::input(*s); }), qmr::kExitFailure);
    EXPECT_EQ(lines(s->io.lst().text()).back(), kMainFail);
  }
  {
    // A malformed count: the record reader's own report.
    auto s = memState("    2   x1\n");
    EXPECT_THROW(qmr::input(*s), qmr::ReaderFault);
    EXPECT_EQ(s->io.lst().text(), "");
  }
  {
    // The codes record fails after the counts have been echoed.
    auto s = memState(counts(2, 1, 1, 0, 0, 0, 0, 0) + "\n  1.5\n");
    s->codes.imode = 1;
    EXPECT_EQ(qmrtest::stopStatus([&] { qmr::input(*s); }), qmr::kExitFailure);
    auto ls = lines(s->io.lst().text());
    EXPECT_EQ(ls[1], " NUMBER OF ELEMENTS                               =   2");
    EXPECT_EQ(ls.back(), kMainFail);
  }
}

TEST(ControlData, PrintIntervalOfAFlowRun) {
  const std::string codes = "    0    0    0";
  auto flow = memState(counts(2, 1, 1, 0, 0, 0, 0, 0) + "\n" + codes + "\n");
  flow->codes.imode = 1;
  EXPECT_EQ(qmrtest::stopStatus([&] { qmr::input(*flow); }), qmr::kExitFailure);
  EXPECT_NE(flow->io.diag.find("printout"), std::string::npos);
  // A transport run does not print by steps and takes any value.
  auto tran = memState(counts(2, 1, 1, 0, 0, 0, 0, 0) + "\n" + codes + "\n");
  tran->codes.imode = 2;
  EXPECT_NO_THROW(qmr::input(*tran));
}

TEST(Termination, FramedMessage) {
  auto s = memState("");
  EXPECT_EQ(qmrtest::stopStatus([&] { qmr::error8(s->io); }),
            qmr::kExitFailure);
  EXPECT_EQ(s->io.lst().text(),
            " ****ERROR OR END OF FILE ON RESTART FILE****\n");
  // Before the listing exists the line goes to the console.
  auto c = memState("");
  c->io.listingOpen = false;
  EXPECT_EQ(qmrtest::stopStatus([&] { qmr::error10(c->io); }),
            qmr::kExitFailure);
  EXPECT_EQ(c->io.console.text(),
            " ****ERROR OR END OF FILE ON DARCY FILE****\n");
}

// ---------------------------------------------------------------------------
// Files named by the deck, and the progress line

TEST(DeckFiles, OnlyFilesStillOpenAreKeptApart) {
  auto dir = qmrtest::scratch("apart");
  const std::string p = (dir / "out.dat").string();
  // A file written and closed may be written again through another unit.
  qmr::Unit first, second;
  qmr::openOrFail(first, p, "first file", &qmr::Unit::openWrite);
  first.put("1");
  ASSERT_TRUE(first.close());
  EXPECT_NO_THROW(qmr::openOrFail(second, p, "second file",
                                  &qmr::Unit::openWrite, {&first}));
  second.put("2");
  EXPECT_TRUE(second.close());
  EXPECT_EQ(qmrtest::readFile(p), "2\n");
  // While it is open, it is refused.
  qmr::Unit third;
  ASSERT_NO_THROW(
      qmr::openOrFail(second, p, "second file", &qmr::Unit::openWrite));
  EXPECT_THROW(
      qmr::openOrFail(third, p, "third file", &qmr::Unit::openWrite, {&second}),
      qmr::FileFault);
  second.close();
#ifndef _WIN32
  // A device is no file whose content two outputs could mix: both may
  // write to the null device.
  qmr::Unit a, b;
  qmr::openOrFail(a, "/dev/null", "listing", &qmr::Unit::openWrite);
  EXPECT_NO_THROW(qmr::openOrFail(b, "/dev/null", "graphic file",
                                  &qmr::Unit::openWrite, {&a}));
#endif
  std::filesystem::remove_all(dir);
}

TEST(Progress, NothingIsShownWhenStandardErrorIsAFile) {
  auto dir = qmrtest::scratch("progress");
  const std::string p = (dir / "stderr.txt").string();
#ifdef _WIN32
  const auto dup = _dup;
  const auto dup2 = _dup2;
  const auto closeFd = _close;
  const auto fileno = _fileno;
#else
  const auto closeFd = ::close;
#endif
  std::fflush(stderr);
  const int saved = dup(fileno(stderr));
  std::FILE *f = std::fopen(p.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  dup2(fileno(f), fileno(stderr));
  {
    qmr::State s;
    s.clock.nts = 2;
    qmr::Progress progress(s);
    // Beyond the first second, when a terminal would show the line.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    s.clock.its = 1;
    progress.step(s);
  }
  std::fflush(stderr);
  dup2(saved, fileno(stderr));
  closeFd(saved);
  std::fclose(f);
  EXPECT_EQ(qmrtest::readFile(p), "");
  std::filesystem::remove_all(dir);
}
