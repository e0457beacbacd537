// What an element routine takes and gives: the time weighting of the step,
// the element's own values, and the local system of its two equations,
// which assembly adds into the band.
#pragma once

#include "state/state.hpp"

namespace qmr {

// The time weighting of the current step, from the clock.
struct Weights {
  double delta; // length of the step [T]
  double theta; // weight of the new level [-]
  double thetm; // 1 - theta [-]
  double thtm1; // -(1 - theta) [-]
  double asign; // storage switch: 1.0 transient, 0.0 steady state

  static Weights of(const Clock &c) {
    return {c.delta, c.theta, c.thetm, c.thtm1, c.asign};
  }
};

// The local system of one linear element: rows 1 and 2 are the equations of
// its first and second node.
template <class T> struct LocalSystem {
  T alhs11, alhs12, alhs21, alhs22; // left-hand element matrix
  T arhsv1, arhsv2;                 // right-hand side
};

// One flow element as assemf takes it: the values of the element after the
// aquifer's thickness and the leakage limiter have been applied.
template <class T> struct FlowElement {
  double el;        // length [L]
  double r1, r2;    // coordinates (radii) of its nodes [L]
  T eltran;         // conductivity × width × thickness [L³/T]
  T elstor;         // storage × width [L]
  T elqrch;         // recharge × width [L²/T]
  T elleak;         // leakage coefficient × width, as limited [L/T]
  T elqfix;         // leakage source from the fixed head [L²/T]
  T hdold1, hdold2; // old levels of its nodes [L]
};

// One transport element as assemt takes it.
template <class T> struct TransportElement {
  double el;        // length [L]
  double r1, r2;    // coordinates (radii) of its nodes [L]
  T ethick;         // saturated thickness [L]
  T edarcy;         // Darcy velocity × width [L²/T]
  T ealfal;         // dispersivity [L]
  T edifus;         // diffusion coefficient [L²/T]
  T eporos;         // porosity × width [L]
  T eretar;         // retardation factor [-]
  T edecay;         // decay coefficient [1/T]
  T ecrech;         // concentration of the recharge [C]
  T ecleak;         // concentration of the aquitard fluid [C]
  T eqrech;         // recharge rate per metre of valley [L²/T]
  T eqleak;         // leakage rate per metre of valley [L²/T]
  T hdold1, hdold2; // old levels of its nodes [C]
};

// The element's values that the leakage limiter reads.
template <class T> struct LeakageInput {
  T hnew1, hnew2; // current iterate at the element's nodes [L]
  T hold1, hold2; // old levels [L]
  T ehfix;        // fixed head beyond the aquitard [L]
  T elleak;       // leakage coefficient × width [L/T]
  T elqmax;       // maximum leakage rate × width [L²/T]
};

// What the limiter gives back: the mean heads, its own time-weighted head
// difference across the aquitard and the effective leakage coefficient.
template <class T> struct Leakage {
  T hnavg, hoavg; // mean new and old head of the element [L]
  T hddiff;       // theta-weighted difference, fixed head - mean head [L]
  T elleak;       // leakage coefficient, reduced where the cap holds [L/T]
  // How far the new and the old leakage rate stand from the cap (rate -
  // cap; 0 when the limiter did not compare them): where one is near 0, a
  // small change could put the cap on or off.
  T capNew = 0.0, capOld = 0.0;
};

} // namespace qmr
