// The iteration of a flow step: the prescribed fluxes on the right-hand side,
// the element matrices of a confined or water-table aquifer, the banded
// solution with relaxation, and the tolerance that follows the range of the
// solution. A non-linear problem that does not converge ends the run.
#include "drivers/step.hpp"
#include "layout/layout.hpp"
#include "layout/warn.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout kDry("('***** ELEMENT NO. ',I3,' HAS GONE DRY !! *****')");
const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM HEAD DIFFERENCE OF ',E12.5,' AT NODE ',I5)");

// Adds the prescribed fluxes of the step to the right-hand side.
void seedFluxes(State &s) {
  for (int isb = 1; isb <= s.nsb; ++isb) {
    const int id = s.isbv(isb);
    s.aslod(id) = s.aslod(id) + s.bslod(isb) * s.delta;
  }
}

// The element work values of one element and its matrices, confined.
void assembleConfined(State &s, int ie) {
  const FlowElement e = flowElement(s, ie);
  s.el = e.len;
  s.ethick = e.bott;
  s.eltran = e.tran * s.ethick;
  s.elstor = e.sstor * s.ethick + e.stor;
  s.elqrch = e.qrch;
  s.elleak = e.leak;
  s.elqmax = e.qmax;
  if (e.limited) sbleak(s, ie);
  s.elqfix = e.hfix * s.elleak;
  assemf(s, ie);
}

// The same with the water-table option: the saturated thickness follows
// the time-weighted mean head of the element.
void assembleWaterTable(State &s, int ie) {
  const FlowElement e = flowElement(s, ie);
  s.el = e.len;
  s.eltran = e.tran;
  s.elstor = e.stor;
  s.elqrch = e.qrch;
  s.elbott = e.bott;
  s.elleak = e.leak;
  s.elqmax = e.qmax;
  if (e.limited) sbleak(s, ie);
  s.elqfix = e.hfix * s.elleak;
  s.hnavg = (s.hdnew(ie) + s.hdnew(ie + 1)) * 0.5;
  s.hoavg = (s.hdold(ie) + s.hdold(ie + 1)) * 0.5;
  const double ahead = s.theta * s.hnavg + s.thetm * s.hoavg;
  s.ethick = ahead - s.elbott;
  if (s.ethick <= 0.0) {
    write(s.io.lst(), kDry, {ie});
    // Without a listing the trouble is told on standard error.
    if (s.io.lst().drops())
      notice("time step " + std::to_string(s.its) + ": element " +
             std::to_string(ie) +
             " has gone dry (its saturated thickness is taken as 1.0E-4)");
    s.ethick = static_cast<double>(1.0E-4f);
  }
  s.eltran = s.eltran * s.ethick;
  s.elstor = s.ethick * e.sstor + s.elstor;
  assemf(s, ie);
}

// The flow step's part of the iteration.
struct FlowIteration {
  void assemble(State &s) {
    for (int ie = 1; ie <= s.ne; ++ie) {
      if (s.i2dwt == 0)
        assembleConfined(s, ie);
      else
        assembleWaterTable(s, ie);
    }
  }
  // The next tolerance: 0.1 % of the range of the solution (zero included),
  // at least 1.0E-6; then the report of a print step.
  void scanned(State &s, const Scan &scan) {
    const double vrange = scan.vupper - scan.vlower;
    const double vtoler = vrange * static_cast<double>(0.001f);
    s.toler = static_cast<double>(1.0E-6f);
    if (vtoler > s.toler) s.toler = vtoler;
    if (printStep(s))
      write(s.io.lst(), kIter, {s.iter, s.nitmax, scan.amaxdf, scan.nmaxnd});
  }
  void cleared(State &s) { seedFluxes(s); }
};

} // namespace

void flowIterate(State &s) {
  // The prescribed fluxes of the step, also summed for the mass balance.
  seedFluxes(s);
  for (int isb = 1; isb <= s.nsb; ++isb)
    s.pfxsum = s.pfxsum + s.bslod(isb) * s.delta;

  FlowIteration step;
  if (iterate(s, step, s.iter)) return;

  // A linear problem goes on with the last iterate.
  if (s.i2dwt == 1 || s.ilqmax == 1) endqmr(s, 3, kNotConverged);
}

} // namespace qmr
