// Iteration control of every step: maximum number of iterations,
// convergence tolerance and relaxation factor.
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kRecord("(I5,2F10.0)");
const Layout kEcho("(/,'   NON-LINEAR CONVERGENCE CRITERIA',/,'   NITMAX = MAXIMUM NUMBER OF ITERATIONS = ',I5,/,'   TOLER  = CONVERGENCE TOLERANCE        = ',E12.5,/,'   RELAX  = RELAXATION FACTOR            = ',E12.5,/,/)");
// clang-format on

const double kLimiterToler = static_cast<double>(1.0E-6F);
const double kRelaxMin = static_cast<double>(0.001F);

} // namespace

void nonlin(State &s) {
  s.crit.nitmax = 1;
  s.crit.relax = 1.0;
  if (s.fprop.ilqmax == 1) {
    // The leakage limiter needs iterations even for a confined aquifer.
    s.crit.nitmax = 100;
    s.crit.toler = kLimiterToler;
    s.crit.relax = 0.75;
  }
  if (s.codes.i2dwt != 1) return;
  s.io.deck.setSection("iteration criteria record");
  readMain(s.io, kRecord,
           {ref(s.crit.nitmax), ref(s.crit.toler), ref(s.crit.relax)});
  if (s.crit.relax < kRelaxMin) s.crit.relax = 1.0;
  write(s.io.lst(), kEcho, {s.crit.nitmax, s.crit.toler, s.crit.relax});
}

} // namespace qmr
