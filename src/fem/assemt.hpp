// Transport element matrices: advection, dispersion, retarded storage, decay
// and the solute brought in by recharge and leakage, for one linear element.
// The equation of each node is multiplied by the step length: the left-hand
// side is the mass matrix plus theta*dt times the transport operator, the
// right-hand side the mass matrix plus (theta-1)*dt times that operator
// applied to the old concentrations, plus the sources over the step.
#pragma once

#include "fem/element.hpp"
#include "fem/scalar.hpp"

namespace qmr {

template <class T>
LocalSystem<T> assemt(const TransportElement<T> &e, const Weights &w,
                      bool radial) {
  const T &hdold1 = e.hdold1;
  const T &hdold2 = e.hdold2;

  // Element coefficients.
  const T bdelta = e.ethick * w.delta;
  const T disper = fabs(e.edarcy) * e.ealfal + e.eporos * e.edifus;
  const T aij = bdelta * disper / e.el;
  const T dij = e.edarcy * bdelta * 0.5;
  const T bretar = e.eporos * e.eretar * e.ethick * w.asign;
  const T bdecay = e.eporos * e.eretar * bdelta * e.edecay;
  const T bqrech = e.eqrech * w.delta;
  const T bqleak = e.eqleak * w.delta;
  const T bqdsum = bdecay + bqrech + bqleak;

  // Time weighting.
  const T bijsl = w.theta * bqdsum + bretar;
  const T bijsr = w.thtm1 * bqdsum + bretar;
  const T aijlef = w.theta * aij;
  const T aijrig = w.thtm1 * aij;
  const T dijlef = w.theta * dij;
  const T dijrig = w.thtm1 * dij;

  // Consistent mass distribution.
  const T bijsl3 = e.el * bijsl / 3.0;
  const T bijsl6 = bijsl3 * 0.5;
  const T bijsr3 = e.el * bijsr / 3.0;
  const T bijsr6 = bijsr3 * 0.5;

  // Solute brought in over the step, shared equally by the two nodes.
  const T qcrech = e.eqrech * e.ecrech * w.delta * e.el * 0.5;
  const T qcleak = e.eqleak * e.ecleak * w.delta * e.el * 0.5;

  // Left-hand element matrix.
  T alhs11 = aijlef + bijsl3 - dijlef;
  T alhs12 = bijsl6 - aijlef + dijlef;
  T alhs21 = bijsl6 - aijlef - dijlef;
  T alhs22 = aijlef + bijsl3 + dijlef;

  // Right-hand element matrix, with the old-level weights.
  T arhs11 = aijrig + bijsr3 - dijrig;
  T arhs12 = bijsr6 - aijrig + dijrig;
  T arhs21 = bijsr6 - aijrig - dijrig;
  T arhs22 = aijrig + bijsr3 + dijrig;

  // Right-hand element vector.
  T arhsv1 = arhs11 * hdold1 + arhs12 * hdold2 + qcrech + qcleak;
  T arhsv2 = arhs21 * hdold1 + arhs22 * hdold2 + qcrech + qcleak;

  // Radial flow: every term weighted with the radius, linear over the
  // element, around the mean radius of the element.
  if (radial) {
    const double radzer = (e.r2 + e.r1) * 0.5;
    const T bijal6 = e.el * bijsl6 * 0.5;
    const T bijar6 = e.el * bijsr6 * 0.5;
    const T dijalf = e.el * dijlef / 6.0;
    const T dijarg = e.el * dijrig / 6.0;
    const T qdtrad = (qcrech + qcleak) * e.el / 6.0;

    alhs11 = radzer * alhs11 - bijal6 + dijalf;
    alhs22 = radzer * alhs22 + bijal6 + dijalf;
    alhs12 = radzer * alhs12 - dijalf;
    alhs21 = radzer * alhs21 - dijalf;

    arhs11 = radzer * arhs11 - bijar6 + dijarg;
    arhs22 = radzer * arhs22 + bijar6 + dijarg;
    arhs12 = radzer * arhs12 - dijarg;
    arhs21 = radzer * arhs21 - dijarg;

    arhsv1 =
        arhs11 * hdold1 + arhs12 * hdold2 + (qcrech + qcleak) * radzer - qdtrad;
    arhsv2 =
        arhs21 * hdold1 + arhs22 * hdold2 + (qcrech + qcleak) * radzer + qdtrad;
  }

  return {alhs11, alhs12, alhs21, alhs22, arhsv1, arhsv2};
}

} // namespace qmr
