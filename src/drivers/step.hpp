// What the flow and the transport step share, and the parts of the flow
// step: the print steps, the flow element record, the results of the step
// and the profile store.
#pragma once

#include "fem/element.hpp"
#include "fem/sbleak.hpp"
#include "state/balance.hpp"
#include "state/state.hpp"

namespace qmr {

// --- the listing ------------------------------------------------------------

// Reports appear on the steps whose number is a multiple of the print
// interval: the deck's, or the one of the command line (--print-every),
// which takes its place. An interval of 0 has no multiples: no reports.
inline bool printStep(const Options &opt, const Codes &codes, int its) {
  const int every = opt.printEvery > 0 ? opt.printEvery : codes.istep;
  return every != 0 && its % every == 0;
}

// A transport run reports every step, unless the command line thins its
// listing (--print-every).
inline bool printTransportStep(const Options &opt, int its) {
  return opt.printEvery <= 0 || its % opt.printEvery == 0;
}

// --- flow elements after the step -------------------------------------------

// The levels of flow element ie over the step, as the velocity file and the
// mass balance take them.
template <class T> struct StepHeads {
  T hdnew1, hdnew2; // new levels of the two nodes
  T hdold1, hdold2; // old levels
};

template <class T> StepHeads<T> stepHeads(const Levels<T> &lev, int ie) {
  return {lev.hdnew(ie), lev.hdnew(ie + 1), lev.hdold(ie), lev.hdold(ie + 1)};
}

// The leakage limiter of flow element ie on the heads of the step.
template <class T>
Leakage<T> limitLeakage(const FlowProperties<T> &p, const StepHeads<T> &h,
                        int ie, double theta) {
  return sbleak<T>({h.hdnew1, h.hdnew2, h.hdold1, h.hdold2, p.ehfix(ie),
                    p.eleak(ie), p.eqmax(ie)},
                   theta);
}

// --- the parts of the flow step ----------------------------------------------

// The iteration (on the run's doubles, or by core), and the stop when it
// fails.
class StepCore;
void flowIterate(State &s, StepCore *core);
// One block of the velocity file.
void velocityBlock(Files &io, const Codes &codes, const Mesh &mesh,
                   const Clock &clock, const FlowProperties<double> &p,
                   const Levels<double> &lev);
// The nodal heads, on print steps.
void printHeads(Files &io, const Mesh &mesh, const Levels<double> &lev);
// The fluxes at the prescribed-head nodes: the table, the accumulated fluxes
// and the rates. Returns the amount entering at them over the step.
double fluxTable(Files &io, const Clock &clock, const Prescribed<double> &bc,
                 Results &res);
// The flux-file record of the step.
void fluxRow(Files &io, const Codes &codes, const Clock &clock, int nbt,
             const Results &res);
// The report of the mass balance of the step in the listing (the balance:
// flowbalance.hpp).
void printFlowBalance(Files &io, const FlowBalance &b);

// --- the end of a step ------------------------------------------------------

// The completion line of the step, written twice.
void stepDone(Files &io, const Clock &clock);

// --- profiles ---------------------------------------------------------------

// True when this step is the step of the next profile.
inline bool profileDue(const Observations &obs, int its) {
  return obs.itprof <= obs.ntprof && its == obs.ltprof(obs.itprof);
}
// Stores hdnew as the next profile.
void storeProfile(Observations &obs, const Mesh &mesh,
                  const Levels<double> &lev);

} // namespace qmr
