// The iteration of a flow step in the program's run: the iteration of the
// finite-element core on the run's doubles, with its reports in the listing
// (an element gone dry, the iterations of a print step), the prescribed
// fluxes of the step summed for the mass balance, and the stop when a
// non-linear problem does not converge or the solver meets a bad pivot.
#include "drivers/step.hpp"
#include "drivers/stepcore.hpp"
#include "fem/fem.hpp"
#include "fem/flowstep.hpp"
#include "io/layout.hpp"
#include "io/warn.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout kDry("('***** ELEMENT NO. ',I3,' HAS GONE DRY !! *****')");
const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM HEAD DIFFERENCE OF ',E12.5,' AT NODE ',I5)");

// What the iteration tells the listing.
struct ListingReport final : IterationListing {
  ListingReport(Files &io, const Clock &clock, const Criteria &crit, bool print)
      : io(io), clock(clock), crit(crit), print(print) {}
  Files &io;
  const Clock &clock;
  const Criteria &crit;
  bool print; // a print step: every iteration is reported

  void dry(int ie) override {
    write(io.lst(), kDry, {ie});
    // Without a listing the trouble is told on standard error.
    if (io.lst().drops())
      notice("time step " + std::to_string(clock.its) + ": element " +
             std::to_string(ie) +
             " has gone dry (its saturated thickness is taken as 1.0E-4)");
  }
  void leakage(int, const Leakage<double> &) {}
  void iteration(int iter, const Scan &scan) override {
    if (print)
      write(io.lst(), kIter, {iter, crit.nitmax, scan.amaxdf, scan.nmaxnd});
  }
};

} // namespace

void flowIterate(State &s, StepCore *core) {
  // The prescribed fluxes of the step, summed for the mass balance.
  for (int isb = 1; isb <= s.bc.nsb; ++isb)
    s.res.pfxsum = s.res.pfxsum + s.bc.bslod(isb) * s.clock.delta;

  FlowSystem<double> f{s.mesh, s.codes, s.clock, s.fprop,
                       s.bc,   s.lev,   s.band,  s.crit};
  ListingReport report{s.io, s.clock, s.crit,
                       printStep(s.opt, s.codes, s.clock.its)};
  const IterationEnd end =
      core != nullptr ? core->flow(s, report) : flowIteration(f, report);
  if (end.fault) pivotFailure(s.io, end.fault);
  if (end.converged) return;

  // A linear problem goes on with the last iterate.
  if (s.codes.i2dwt == 1 || s.fprop.ilqmax == 1) endqmr(s.io, 3, kNotConverged);
}

} // namespace qmr
