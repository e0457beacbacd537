// Time steps: the total time at the end of every step, typed by the user or
// generated (logarithmic or linear), and the storage switch of a steady run.
#include <vector>

#include "input/input.hpp"
#include "input/plausible.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "math/crmath.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kSteady("(/,' ** STEADY STATE CONDITION **',/)");
const Layout kManHead("(/,/,'  MANUAL TIME STEP INPUT',/,'  **********************',/,/,'  INITIAL TIME VALUE = ',E10.4,/,/,'   TIME STEP       TOTAL     ELAPSED        TIME',/,'    NUMBER         TIME       TIME          STEP',/,'   ---------       -----     -------        ----',/,/)");
const Layout kRow("(I12,3E12.5)");
const Layout kLogHead("(/,' AUTOMATIC LOGARITHMIC TIMESTEP GENERATION',/,' -----------------------------------------',/,/,' INITIAL TIME VALUE    (TIMA)                = ',E12.5,/,' FIRST TIME STEP VALUE (DELTA1)              = ',E12.5,/,' NUMBER OF TIME STEPS PER LOG CYCLE (NTSLOG) = ',I12,/,/,'   TIME STEP       TOTAL     ELAPSED        TIME',/,'     NUMBER        TIME        TIME         STEP',/,'   ---------       -----     -------        ----',/,/)");
const Layout kLinHead("(/,' AUTOMATIC LINEAR TIMESTEP GENERATION',/,' ------------------------------------',/,/,' INITIAL TIME VALUE      (TIMA)              = ',E12.5,/,' UNIFORM TIME STEP VALUE (DELTA1)            = ',E12.5,/,/,'   TIME STEP       TOTAL     ELAPSED        TIME',/,'     NUMBER        TIME        TIME         STEP',/,'   ---------       -----     -------        ----',/,/)");
// clang-format on

// Total times typed by the user after the initial time, used unchanged.
void manual(State &s) {
  std::vector<Ref> to;
  to.push_back(ref(s.clock.tima));
  for (int its = 1; its <= s.clock.nts; ++its)
    to.push_back(ref(s.clock.timvec(its)));
  s.io.deck.setSection("initial time and times");
  if (readEofOnly(s.io.deck, kEightReals, to) < 0) error5(s.io);
  plausibleTimes(s, s.io.deck.recno());
  write(s.io.lst(), kManHead, {s.clock.tima});
  double tint = s.clock.tima;
  for (int its = 1; its <= s.clock.nts; ++its) {
    const double ttime = s.clock.timvec(its);
    const double etime = ttime - s.clock.tima;
    const double tstep = ttime - tint;
    tint = ttime;
    write(s.io.lst(), kRow, {its, ttime, etime, tstep});
  }
}

// Elapsed time multiplied by 10^(1/ntslog) from step to step; the factor is
// a single-precision value.
void logarithmic(State &s, double delta1, int ntslog) {
  write(s.io.lst(), kLogHead, {s.clock.tima, delta1, ntslog});
  const float expo = 1.0F / static_cast<float>(ntslog);
  const double tfact = static_cast<double>(crpowf(10.0F, expo));
  double tint = s.clock.tima;
  double etime = delta1;
  for (int its = 1; its <= s.clock.nts; ++its) {
    const double ttime = s.clock.tima + etime;
    const double tstep = ttime - tint;
    write(s.io.lst(), kRow, {its, ttime, etime, tstep});
    s.clock.timvec(its) = ttime;
    tint = ttime;
    etime = etime * tfact;
  }
}

// Elapsed time grown by repeated addition of the uniform step.
void linear(State &s, double delta1) {
  write(s.io.lst(), kLinHead, {s.clock.tima, delta1});
  double tint = s.clock.tima;
  double etime = delta1;
  for (int its = 1; its <= s.clock.nts; ++its) {
    const double ttime = s.clock.tima + etime;
    const double tstep = ttime - tint;
    write(s.io.lst(), kRow, {its, ttime, etime, tstep});
    s.clock.timvec(its) = ttime;
    etime = etime + delta1;
    tint = ttime;
  }
}

} // namespace

void tmstep(State &s) {
  s.clock.asign = 1.0;
  if (s.codes.isstat == 1) {
    s.clock.nts = 1;
    s.clock.tima = 0.0;
    s.clock.asign = 0.0;
    s.clock.timvec(1) = 1.0;
    write(s.io.lst(), kSteady, {});
    return;
  }
  if (s.codes.itsgn == 0) {
    manual(s);
    return;
  }
  double delta1 = 0.0;
  int ntslog = 0;
  s.io.deck.setSection("time-step generation record");
  readUnchecked(s.io.deck, kTwoRealsInt,
                {ref(s.clock.tima), ref(delta1), ref(ntslog)});
  plausibleStep(s, delta1);
  if (ntslog > 0) {
    logarithmic(s, delta1, ntslog);
  } else {
    linear(s, delta1);
  }
}

} // namespace qmr
