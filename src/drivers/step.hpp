// What the flow and the transport step share, and the parts of the flow step:
// the iteration skeleton, the element record of a flow element, the print
// steps and the profile store.
#pragma once

#include "fem/band.hpp"
#include "fem/fem.hpp"
#include "state/balance.hpp"
#include "state/state.hpp"

namespace qmr {

// --- the iteration ----------------------------------------------------------

// What one convergence scan finds: the change of every node against the
// previous iterate, and the range of the solution (zero included).
struct Scan {
  bool changed = false; // a node changed by the tolerance or more
  double amaxdf = 0.0;  // the largest change
  int nmaxnd = 0;       // its node, the first on a tie; 0 when none changed
  double vupper = 0.0;  // the largest solution value, at least 0
  double vlower = 0.0;  // the smallest solution value, at most 0
};

// Compares the solution in aslod with the iterate in hdnew.
Scan scanChange(const State &s);
// hdnew = relax x solution + (1 - relax) x previous iterate, then a clear
// system for the next assembly.
void relaxAndClear(State &s, double drelax);

// The iteration of a step: assemble, solve, scan, report, relax and clear,
// until no node changes by the tolerance or more, at most nitmax times (the
// limit taken when the loop starts). `iter` is the iteration counter the
// step keeps. The step supplies assemble(s) (element matrices and prescribed
// fluxes), scanned(s, scan) (what follows the scan: tolerance, report) and
// cleared(s) (what a clear system needs before the next assembly). Returns
// true when the step converged.
template <class Step> bool iterate(State &s, Step &step, int &iter) {
  setBandColumns(s);
  const double drelax = s.relax - 1.0;
  const int nitmax = s.nitmax;
  for (iter = 1; iter <= nitmax; ++iter) {
    step.assemble(s);
    asm_(s);
    const Scan scan = scanChange(s);
    step.scanned(s, scan);
    relaxAndClear(s, drelax);
    step.cleared(s);
    if (!scan.changed) return true;
  }
  return false;
}

// --- flow elements ----------------------------------------------------------

// The properties of one flow element, loaded once where a routine visits the
// element.
struct FlowElement {
  double len;   // elen: length
  double tran;  // etran: conductivity x width
  double sstor; // espec: specific storage x width
  double stor;  // estor: storage coefficient x width
  double bott;  // ebott: thickness (confined) or base elevation
  double qrch;  // eqrch: recharge x width
  double leak;  // eleak: aquitard leakage coefficient x width
  double hfix;  // ehfix: fixed head beyond the aquitard
  double qmax;  // eqmax: maximum leakage rate x width
  bool limited; // iqmax = 1: the leakage is capped
};

inline FlowElement flowElement(const State &s, int ie) {
  return {s.elen(ie),  s.etran(ie), s.espec(ie), s.estor(ie), s.ebott(ie),
          s.eqrch(ie), s.eleak(ie), s.ehfix(ie), s.eqmax(ie), s.iqmax(ie) == 1};
}

// --- the listing ------------------------------------------------------------

// Reports appear on the steps whose number is a multiple of the print
// interval: the deck's, or the one of the command line (--print-every),
// which takes its place. An interval of 0 has no multiples: no reports.
inline bool printStep(const State &s) {
  const int every = s.opt.printEvery > 0 ? s.opt.printEvery : s.istep;
  return every != 0 && s.its % every == 0;
}

// A transport run reports every step, unless the command line thins its
// listing (--print-every).
inline bool printTransportStep(const State &s) {
  return s.opt.printEvery <= 0 || s.its % s.opt.printEvery == 0;
}

// --- the parts of the flow step ----------------------------------------------

void flowIterate(State &s);   // the iteration, and the stop when it fails
void velocityBlock(State &s); // one block of the velocity file
void printHeads(State &s);    // the nodal heads, on print steps
// The fluxes at the prescribed-head nodes: the table, the accumulated fluxes
// and the rates. Returns the amount entering at them over the step.
double fluxTable(State &s);
void fluxRow(State &s); // the flux-file record of the step
// The mass balance of the step, and its report in the listing.
FlowBalance flowBalance(State &s, double qdsum);
void printFlowBalance(State &s, const FlowBalance &b);

// --- the transport step -----------------------------------------------------

// The solute mass balance of the step from its discrete equations (--csv).
SoluteBalance soluteBalance(const State &s);

// --- the end of a step ------------------------------------------------------

// The completion line of the step, written twice.
void stepDone(State &s);

// --- profiles ---------------------------------------------------------------

// True when this step is the step of the next profile.
inline bool profileDue(const State &s) {
  return s.itprof <= s.ntprof && s.its == s.ltprof(s.itprof);
}
// Stores hdnew as the next profile.
void storeProfile(State &s);

} // namespace qmr
