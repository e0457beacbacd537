// Flow element matrices: the theta-weighted storage, conduction, leakage and
// recharge terms of one linear two-node element, added into the band.
#include "fem/band.hpp"
#include "fem/fem.hpp"

namespace qmr {

void assemf(State &s, int ie) {
  const int ip1 = ie;
  const int ip2 = ie + 1;

  const double stor = s.asign * s.elstor;

  // Conduction of the new and the old level over the step.
  const double tdthol = s.eltran * s.delta * s.theta / s.el;
  const double tdmhol = s.eltran * s.delta * s.thetm / s.el;

  // Head-dependent leakage goes with the storage (consistent mass matrix).
  const double dlleak = s.elleak * s.delta;
  const double storl3 = (stor + s.theta * dlleak) * s.el / 3.0;
  const double storr3 = (stor - s.thetm * dlleak) * s.el / 3.0;
  const double storl6 = storl3 * 0.5;
  const double storr6 = storr3 * 0.5;

  // Recharge and the fixed-head leakage source, half on each node.
  const double qdtlo2 = (s.elqrch + s.elqfix) * s.delta * s.el * 0.5;

  const double hdold1 = s.hdold(ip1);
  const double hdold2 = s.hdold(ip2);

  double alhs11 = tdthol + storl3;
  double alhs12 = storl6 - tdthol;
  double alhs21 = alhs12;
  double alhs22 = alhs11;

  double arhs11 = storr3 - tdmhol;
  double arhs12 = tdmhol + storr6;
  double arhs21 = arhs12;
  double arhs22 = arhs11;

  double arhsv1 = arhs11 * hdold1 + arhs12 * hdold2;
  double arhsv2 = arhs21 * hdold1 + arhs22 * hdold2;
  arhsv1 = arhsv1 + qdtlo2;
  arhsv2 = arhsv2 + qdtlo2;

  if (s.iaxsym != 0) {
    // Radius varying linearly over the element: the planar terms are taken
    // at the mean radius and corrected towards the outer node.
    const double radzer = (s.ecoord(ip2) + s.ecoord(ip1)) * 0.5;
    const double stordl = s.el * storl6 * 0.5;
    const double stordr = s.el * storr6 * 0.5;
    const double qdtrad = s.el * qdtlo2 / 6.0;

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

  addElement(s, ie, alhs11, alhs12, alhs21, alhs22, arhsv1, arhsv2);
}

} // namespace qmr
