// One time step of a transport run: the element matrices of every element
// and the prescribed fluxes are assembled and solved with the prescribed
// concentrations, the iterate is relaxed until every nodal change is below
// the tolerance or the iteration limit is reached, and the concentrations of
// the step are printed and, at a profile step, stored.
#include "drivers/drivers.hpp"
#include "drivers/solutebalance.hpp"
#include "drivers/step.hpp"
#include "drivers/stepcore.hpp"
#include "fem/fem.hpp"
#include "fem/transtep.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM CONCENTRATION DIFFERENCE OF ',E12.5,' AT NODE ',I5)");
const Layout kColHead(
    "(' NODE     E-COORD   CONCENTRATION',/,' ----     -------   -------------')");

// What the iteration tells the listing: every iteration of a step whose
// results are listed.
struct ListingReport final : IterationListing {
  ListingReport(Files &io, const Criteria &crit, bool print)
      : io(io), crit(crit), print(print) {}
  Files &io;
  const Criteria &crit;
  bool print;

  void dry(int) override {}
  void iteration(int iter, const Scan &scan) override {
    if (print)
      write(io.lst(), kIter, {iter, crit.nitmax, scan.amaxdf, scan.nmaxnd});
  }
};

} // namespace

void drivet(State &s, StepCore *core) {
  const int its = s.clock.its;
  const bool print = printTransportStep(s.opt, its);
  TransportSystem<double> t{s.mesh, s.codes, s.clock, s.tprop,
                            s.bc,   s.lev,   s.band,  s.crit};
  ListingReport report{s.io, s.crit, print};
  const IterationEnd end = core != nullptr ? core->transport(s, report)
                                           : transportIteration(t, report);
  if (end.fault) pivotFailure(s.io, end.fault);
  if (!end.converged && s.codes.i2dwt == 1) endqmr(s.io, 3, kNotConverged);

  if (s.opt.csv)
    s.res.sbal = soluteBalance(s.mesh, s.codes, s.clock, s.tprop, s.bc, s.lev);

  // Results of the step.
  if (print) {
    write(s.io.lst(), kSolutionHead, {});
    write(s.io.lst(), kColHead, {});
    for (int ip = 1; ip <= s.mesh.np; ++ip)
      write(s.io.lst(), kNodeLine, {ip, s.mesh.ecoord(ip), s.lev.hdnew(ip)});
  }

  // At most one profile per step.
  if (profileDue(s.obs, its)) storeProfile(s.obs, s.mesh, s.lev);

  stepDone(s.io, s.clock);
}

} // namespace qmr
