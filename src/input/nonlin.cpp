// Iteration control of every step: maximum number of iterations,
// convergence tolerance and relaxation factor.
#include "input/input.hpp"
#include "io/layout.hpp"
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

void nonlin(Files &io, const Codes &codes, const FlowProperties<double> &fprop,
            Criteria &crit) {
  crit.nitmax = 1;
  crit.relax = 1.0;
  if (fprop.ilqmax == 1) {
    // The leakage limiter needs iterations even for a confined aquifer.
    crit.nitmax = 100;
    crit.toler = kLimiterToler;
    crit.relax = 0.75;
  }
  if (codes.i2dwt != 1) return;
  io.deck.setSection("iteration criteria record");
  readMain(io, kRecord, {ref(crit.nitmax), ref(crit.toler), ref(crit.relax)});
  if (crit.relax < kRelaxMin) crit.relax = 1.0;
  write(io.lst(), kEcho, {crit.nitmax, crit.toler, crit.relax});
}

} // namespace qmr
