// Flow element matrices: the theta-weighted storage, conduction, leakage and
// recharge terms of one linear two-node element.
#pragma once

#include "fem/element.hpp"

namespace qmr {

template <class T>
LocalSystem<T> assemf(const FlowElement<T> &e, const Weights &w, bool radial) {
  const T stor = w.asign * e.elstor;

  // Conduction of the new and the old level over the step.
  const T tdthol = e.eltran * w.delta * w.theta / e.el;
  const T tdmhol = e.eltran * w.delta * w.thetm / e.el;

  // Head-dependent leakage goes with the storage (consistent mass matrix).
  const T dlleak = e.elleak * w.delta;
  const T storl3 = (stor + w.theta * dlleak) * e.el / 3.0;
  const T storr3 = (stor - w.thetm * dlleak) * e.el / 3.0;
  const T storl6 = storl3 * 0.5;
  const T storr6 = storr3 * 0.5;

  // Recharge and the fixed-head leakage source, half on each node.
  const T qdtlo2 = (e.elqrch + e.elqfix) * w.delta * e.el * 0.5;

  const T &hdold1 = e.hdold1;
  const T &hdold2 = e.hdold2;

  T alhs11 = tdthol + storl3;
  T alhs12 = storl6 - tdthol;
  T alhs21 = alhs12;
  T alhs22 = alhs11;

  T arhs11 = storr3 - tdmhol;
  T arhs12 = tdmhol + storr6;
  T arhs21 = arhs12;
  T arhs22 = arhs11;

  T arhsv1 = arhs11 * hdold1 + arhs12 * hdold2;
  T arhsv2 = arhs21 * hdold1 + arhs22 * hdold2;
  arhsv1 = arhsv1 + qdtlo2;
  arhsv2 = arhsv2 + qdtlo2;

  if (radial) {
    // Radius varying linearly over the element: the planar terms are taken
    // at the mean radius and corrected towards the outer node.
    const double radzer = (e.r2 + e.r1) * 0.5;
    const T stordl = e.el * storl6 * 0.5;
    const T stordr = e.el * storr6 * 0.5;
    const T qdtrad = e.el * qdtlo2 / 6.0;

    alhs11 = radzer * alhs11 - stordl;
    alhs22 = radzer * alhs22 + stordl;
    alhs12 = alhs12 * radzer;
    alhs21 = alhs12;

    arhs11 = radzer * arhs11 - stordr;
    arhs22 = radzer * arhs22 + stordr;
    arhs12 = arhs12 * radzer;
    arhs21 = arhs12;

    arhsv1 = arhs11 * hdold1 + arhs12 * hdold2 + qdtlo2 * radzer - qdtrad;
    arhsv2 = arhs21 * hdold1 + arhs22 * hdold2 + qdtlo2 * radzer + qdtrad;
  }

  return {alhs11, alhs12, alhs21, alhs22, arhsv1, arhsv2};
}

} // namespace qmr
