// Time steps: the total time at the end of every step, typed by the user or
// generated (logarithmic or linear), and the storage switch of a steady run.
#include <vector>

#include "input/input.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
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
void manual(Files &io, Clock &clock) {
  std::vector<Ref> to;
  to.push_back(ref(clock.tima));
  for (int its = 1; its <= clock.nts; ++its)
    to.push_back(ref(clock.timvec(its)));
  io.deck.setSection("initial time and times");
  if (readEofOnly(io.deck, kEightReals, to) < 0) error5(io);
  plausibleTimes(io, clock, io.deck.recno());
  write(io.lst(), kManHead, {clock.tima});
  double tint = clock.tima;
  for (int its = 1; its <= clock.nts; ++its) {
    const double ttime = clock.timvec(its);
    const double etime = ttime - clock.tima;
    const double tstep = ttime - tint;
    tint = ttime;
    write(io.lst(), kRow, {its, ttime, etime, tstep});
  }
}

// Elapsed time multiplied by 10^(1/ntslog) from step to step; the factor is
// a single-precision value.
void logarithmic(Files &io, Clock &clock, double delta1, int ntslog) {
  write(io.lst(), kLogHead, {clock.tima, delta1, ntslog});
  const float expo = 1.0F / static_cast<float>(ntslog);
  const double tfact = static_cast<double>(crpowf(10.0F, expo));
  double tint = clock.tima;
  double etime = delta1;
  for (int its = 1; its <= clock.nts; ++its) {
    const double ttime = clock.tima + etime;
    const double tstep = ttime - tint;
    write(io.lst(), kRow, {its, ttime, etime, tstep});
    clock.timvec(its) = ttime;
    tint = ttime;
    etime = etime * tfact;
  }
}

// Elapsed time grown by repeated addition of the uniform step.
void linear(Files &io, Clock &clock, double delta1) {
  write(io.lst(), kLinHead, {clock.tima, delta1});
  double tint = clock.tima;
  double etime = delta1;
  for (int its = 1; its <= clock.nts; ++its) {
    const double ttime = clock.tima + etime;
    const double tstep = ttime - tint;
    write(io.lst(), kRow, {its, ttime, etime, tstep});
    clock.timvec(its) = ttime;
    etime = etime + delta1;
    tint = ttime;
  }
}

} // namespace

void tmstep(Files &io, const Codes &codes, Clock &clock) {
  clock.asign = 1.0;
  if (codes.isstat == 1) {
    clock.nts = 1;
    clock.tima = 0.0;
    clock.asign = 0.0;
    clock.timvec(1) = 1.0;
    write(io.lst(), kSteady, {});
    return;
  }
  if (codes.itsgn == 0) {
    manual(io, clock);
    return;
  }
  double delta1 = 0.0;
  int ntslog = 0;
  io.deck.setSection("time-step generation record");
  readUnchecked(io.deck, kTwoRealsInt,
                {ref(clock.tima), ref(delta1), ref(ntslog)});
  plausibleStep(io, delta1);
  if (ntslog > 0) {
    logarithmic(io, clock, delta1, ntslog);
  } else {
    linear(io, clock, delta1);
  }
}

} // namespace qmr
