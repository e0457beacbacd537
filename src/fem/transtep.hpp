// The iteration of a transport step on any number type: the element
// matrices of every element and the prescribed fluxes, solved with the
// prescribed concentrations and relaxed until every nodal change is below
// the tolerance or the iteration limit is reached.
#pragma once

#include "fem/assemt.hpp"
#include "fem/band.hpp"
#include "fem/iterate.hpp"

namespace qmr {

// What the iteration of a transport step reads and writes.
template <class T> struct TransportSystem {
  const Mesh &mesh;
  const Codes &codes;
  const Clock &clock;
  const TransportProperties<T> &prop;
  Prescribed<T> &bc;
  Levels<T> &lev;
  Band<T> &band;
  const Criteria &crit;
};

// The element record of transport element ie for assemt.
template <class T>
TransportElement<T> transportElement(const TransportSystem<T> &t, int ie) {
  const TransportProperties<T> &p = t.prop;
  return {t.mesh.elen(ie),    t.mesh.ecoord(ie), t.mesh.ecoord(ie + 1),
          p.thick(ie),        p.darcy(ie),       p.alfal(ie),
          p.difus(ie),        p.poros(ie),       p.retar(ie),
          p.decay(ie),        p.crech(ie),       p.cleak(ie),
          p.qrech(ie),        p.qleak(ie),       t.lev.hdold(ie),
          t.lev.hdold(ie + 1)};
}

// The transport step's part of the iteration; the report has
// iteration(iter, scan), called after every scan.
template <class T, class Report> struct TransportIteration {
  TransportSystem<T> &t;
  Report &report;
  int iterat = 0;

  void assemble() {
    const Weights w = Weights::of(t.clock);
    const bool radial = t.codes.iaxsym != 0;
    for (int ie = 1; ie <= t.mesh.ne; ++ie)
      addElement(t.band, t.mesh.ndofn, ie,
                 assemt(transportElement(t, ie), w, radial));
    // Prescribed fluxes: the flux of concentration enters as it is; the
    // fluid flux removes solute at the node's own concentration, weighted
    // between the old and the new level.
    const int ihbp = t.band.ihbp;
    for (int isb = 1; isb <= t.bc.nsb; ++isb) {
      const int id = t.bc.isbv(isb);
      const T hdoldb = t.lev.hdold(id);
      const T dbslod =
          (t.bc.bslod(isb) + w.thtm1 * hdoldb * t.bc.bslqw(isb)) * w.delta;
      t.band.aslod(id) = t.band.aslod(id) + dbslod;
      t.band.astif(id, ihbp) =
          t.band.astif(id, ihbp) + t.bc.bslqw(isb) * w.delta * w.theta;
    }
  }
  void scanned(const Scan &scan) { report.iteration(iterat, scan); }
  void cleared() {}
};

// The iteration of a transport step, from a clear system and hdnew = hdold.
template <class T, class Report>
IterationEnd transportIteration(TransportSystem<T> &t, Report &report) {
  TransportIteration<T, Report> step{t, report};
  return iterate(t.band, t.bc, t.lev, t.mesh, t.crit, step, step.iterat);
}

} // namespace qmr
