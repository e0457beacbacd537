// The iteration of a flow step on any number type: the prescribed fluxes on
// the right-hand side, the element values of a confined or water-table
// aquifer (with the leakage limiter), the element matrices, the banded
// solution with relaxation, and the tolerance that follows the range of the
// solution. What the step tells the listing goes through a report.
#pragma once

#include "fem/assemf.hpp"
#include "fem/band.hpp"
#include "fem/iterate.hpp"
#include "fem/sbleak.hpp"

namespace qmr {

// What the iteration of a flow step reads and writes.
template <class T> struct FlowSystem {
  const Mesh &mesh;
  const Codes &codes;
  const Clock &clock;
  const FlowProperties<T> &prop;
  Prescribed<T> &bc;
  Levels<T> &lev;
  Band<T> &band;
  Criteria &crit;
};

// The element record of flow element ie for assemf: confined (the
// thickness is the deck's) or water-table (the saturated thickness follows
// the time-weighted mean head of the element, and an element gone dry is
// reported through report.dry(ie) and keeps a thin layer). The limiter's
// result goes to report.leakage(ie, l).
template <class T, class Report>
FlowElement<T> flowElement(const FlowSystem<T> &f, int ie, Report &report) {
  const FlowProperties<T> &p = f.prop;
  const Levels<T> &lev = f.lev;
  const int ip1 = ie;
  const int ip2 = ie + 1;
  FlowElement<T> e{
      f.mesh.elen(ie), f.mesh.ecoord(ip1), f.mesh.ecoord(ip2), T(0.0),
      T(0.0),          p.eqrch(ie),        p.eleak(ie),        T(0.0),
      lev.hdold(ip1),  lev.hdold(ip2)};
  if (p.iqmax(ie) == 1)
    e.elleak =
        sbleak<T>({lev.hdnew(ip1), lev.hdnew(ip2), lev.hdold(ip1),
                   lev.hdold(ip2), p.ehfix(ie), p.eleak(ie), p.eqmax(ie)},
                  f.clock.theta)
            .elleak;
  e.elqfix = p.ehfix(ie) * e.elleak;
  if (f.codes.i2dwt == 0) {
    const T ethick = p.ebott(ie);
    e.eltran = p.etran(ie) * ethick;
    e.elstor = p.espec(ie) * ethick + p.estor(ie);
    return e;
  }
  const T hnavg = (lev.hdnew(ip1) + lev.hdnew(ip2)) * 0.5;
  const T hoavg = (lev.hdold(ip1) + lev.hdold(ip2)) * 0.5;
  const T ahead = f.clock.theta * hnavg + f.clock.thetm * hoavg;
  T ethick = ahead - p.ebott(ie);
  if (value(ethick) <= 0.0) {
    report.dry(ie);
    ethick = static_cast<double>(1.0E-4f);
  }
  e.eltran = p.etran(ie) * ethick;
  e.elstor = ethick * p.espec(ie) + p.estor(ie);
  return e;
}

// Adds the prescribed fluxes of the step to the right-hand side.
template <class T> void seedFluxes(FlowSystem<T> &f) {
  for (int isb = 1; isb <= f.bc.nsb; ++isb) {
    const int id = f.bc.isbv(isb);
    f.band.aslod(id) = f.band.aslod(id) + f.bc.bslod(isb) * f.clock.delta;
  }
}

// The flow step's part of the iteration. The report has dry(ie), called
// for an element gone dry, leakage(ie, l) with every result of the leakage
// limiter, and iteration(iter, scan), called after every scan with the
// tolerance already renewed.
template <class T, class Report> struct FlowIteration {
  FlowSystem<T> &f;
  Report &report;
  int iter = 0;

  void assemble() {
    const Weights w = Weights::of(f.clock);
    const bool radial = f.codes.iaxsym != 0;
    for (int ie = 1; ie <= f.mesh.ne; ++ie)
      addElement(f.band, f.mesh.ndofn, ie,
                 assemf(flowElement(f, ie, report), w, radial));
  }
  // The next tolerance: 0.1 % of the range of the solution (zero included),
  // at least 1.0E-6.
  void scanned(const Scan &scan) {
    const double vrange = scan.vupper - scan.vlower;
    const double vtoler = vrange * static_cast<double>(0.001f);
    f.crit.toler = static_cast<double>(1.0E-6f);
    if (vtoler > f.crit.toler) f.crit.toler = vtoler;
    report.iteration(iter, scan);
  }
  void cleared() { seedFluxes(f); }
};

// The iteration of a flow step, from a clear system and hdnew = hdold.
template <class T, class Report>
IterationEnd flowIteration(FlowSystem<T> &f, Report &report) {
  seedFluxes(f);
  FlowIteration<T, Report> step{f, report};
  return iterate(f.band, f.bc, f.lev, f.mesh, f.crit, step, step.iter);
}

} // namespace qmr
