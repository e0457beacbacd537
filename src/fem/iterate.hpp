// The iteration of a step that the flow and the transport step share:
// assemble, solve, scan the change against the previous iterate, relax,
// until no node changes by the tolerance or more.
#pragma once

#include "fem/asm.hpp"
#include "fem/scalar.hpp"
#include "state/state.hpp"

namespace qmr {

// What one convergence scan finds: the change of every node against the
// previous iterate, and the range of the solution (zero included).
struct Scan {
  bool changed = false; // a node changed by the tolerance or more
  double amaxdf = 0.0;  // the largest change
  int nmaxnd = 0;       // its node, the first on a tie; 0 when none changed
  double vupper = 0.0;  // the largest solution value, at least 0
  double vlower = 0.0;  // the smallest solution value, at most 0
  int nupper = 0;       // the node of vupper (0: zero is the largest)
  int nlower = 0;       // the node of vlower (0: zero is the smallest)
};

// Compares the solution in aslod with the iterate in hdnew.
template <class T>
Scan scanChange(const Band<T> &b, const Levels<T> &lev, int np, double toler) {
  Scan scan;
  for (int ip = 1; ip <= np; ++ip) {
    const double vaslod = value(b.aslod(ip));
    if (vaslod > scan.vupper) {
      scan.vupper = vaslod;
      scan.nupper = ip;
    }
    if (vaslod < scan.vlower) {
      scan.vlower = vaslod;
      scan.nlower = ip;
    }
    const double differ = std::fabs(vaslod - value(lev.hdnew(ip)));
    if (differ > scan.amaxdf) {
      scan.amaxdf = differ;
      scan.nmaxnd = ip;
    }
    if (differ >= toler) scan.changed = true;
  }
  return scan;
}

// hdnew = relax x solution + (1 - relax) x previous iterate, then a clear
// system for the next assembly.
template <class T>
void relaxAndClear(Band<T> &b, Levels<T> &lev, int np, double drelax) {
  for (int ip = 1; ip <= np; ++ip) {
    lev.hdnew(ip) = (b.aslod(ip) - lev.hdnew(ip)) * drelax + b.aslod(ip);
    b.aslod(ip) = 0.0;
    for (int j = 1; j <= b.ifullb; ++j) b.astif(ip, j) = 0.0;
  }
}

// How an iteration ended.
struct IterationEnd {
  bool converged = false; // no node changed by the tolerance or more
  PivotFault fault;       // the solve met a bad pivot (the run must end)
};

// The iteration of a step on the system in band, the prescribed values of
// bc and the levels of lev: at most nitmax times (the limit taken when the
// loop starts). `iter` is the iteration counter the step keeps. The step
// supplies assemble() (element matrices and prescribed fluxes),
// scanned(scan) (what follows the scan: tolerance, report) and cleared()
// (what a clear system needs before the next assembly).
template <class T, class Step>
IterationEnd iterate(Band<T> &band, Prescribed<T> &bc, Levels<T> &lev,
                     const Mesh &mesh, const Criteria &crit, Step &step,
                     int &iter) {
  const double drelax = crit.relax - 1.0;
  const int nitmax = crit.nitmax;
  for (iter = 1; iter <= nitmax; ++iter) {
    step.assemble();
    if (const PivotFault f = asm_(band, bc, mesh.nd)) return {false, f};
    const Scan scan = scanChange(band, lev, mesh.np, crit.toler);
    step.scanned(scan);
    relaxAndClear(band, lev, mesh.np, drelax);
    step.cleared();
    if (!scan.changed) return {true, {}};
  }
  return {false, {}};
}

} // namespace qmr
