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
  s.nitmax = 1;
  s.relax = 1.0;
  if (s.ilqmax == 1) {
    // The leakage limiter needs iterations even for a confined aquifer.
    s.nitmax = 100;
    s.toler = kLimiterToler;
    s.relax = 0.75;
  }
  if (s.i2dwt != 1) return;
  s.io.u5.setSection("iteration criteria record");
  readMain(s, kRecord, {ref(s.nitmax), ref(s.toler), ref(s.relax)});
  if (s.relax < kRelaxMin) s.relax = 1.0;
  write(s.io.lst(), kEcho, {s.nitmax, s.toler, s.relax});
}

} // namespace qmr
