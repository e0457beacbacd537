// Transport element matrices: advection, dispersion, retarded storage, decay
// and the solute brought in by recharge and leakage, for one linear element,
// added into the banded system of the current iteration. The equation of
// each node is multiplied by the step length: the left-hand side is the mass
// matrix plus theta*dt times the transport operator, the right-hand side the
// mass matrix plus (theta-1)*dt times that operator applied to the old
// concentrations, plus the sources over the step.
#include <cmath>

#include "fem/band.hpp"
#include "fem/fem.hpp"

namespace qmr {

void assemt(State &s, int ie) {
  const int ip1 = ie;
  const int ip2 = ie + 1;
  const double hdold1 = s.hdold(ip1);
  const double hdold2 = s.hdold(ip2);

  // Element coefficients.
  const double bdelta = s.ethick * s.delta;
  const double disper = std::fabs(s.edarcy) * s.ealfal + s.eporos * s.edifus;
  const double aij = bdelta * disper / s.el;
  const double dij = s.edarcy * bdelta * 0.5;
  const double bretar = s.eporos * s.eretar * s.ethick * s.asign;
  const double bdecay = s.eporos * s.eretar * bdelta * s.edecay;
  const double bqrech = s.eqrech * s.delta;
  const double bqleak = s.eqleak * s.delta;
  const double bqdsum = bdecay + bqrech + bqleak;

  // Time weighting.
  const double bijsl = s.theta * bqdsum + bretar;
  const double bijsr = s.thtm1 * bqdsum + bretar;
  const double aijlef = s.theta * aij;
  const double aijrig = s.thtm1 * aij;
  const double dijlef = s.theta * dij;
  const double dijrig = s.thtm1 * dij;

  // Consistent mass distribution.
  const double bijsl3 = s.el * bijsl / 3.0;
  const double bijsl6 = bijsl3 * 0.5;
  const double bijsr3 = s.el * bijsr / 3.0;
  const double bijsr6 = bijsr3 * 0.5;

  // Solute brought in over the step, shared equally by the two nodes.
  const double qcrech = s.eqrech * s.ecrech * s.delta * s.el * 0.5;
  const double qcleak = s.eqleak * s.ecleak * s.delta * s.el * 0.5;

  // Left-hand element matrix.
  double alhs11 = aijlef + bijsl3 - dijlef;
  double alhs12 = bijsl6 - aijlef + dijlef;
  double alhs21 = bijsl6 - aijlef - dijlef;
  double alhs22 = aijlef + bijsl3 + dijlef;

  // Right-hand element matrix, with the old-level weights.
  double arhs11 = aijrig + bijsr3 - dijrig;
  double arhs12 = bijsr6 - aijrig + dijrig;
  double arhs21 = bijsr6 - aijrig - dijrig;
  double arhs22 = aijrig + bijsr3 + dijrig;

  // Right-hand element vector.
  double arhsv1 = arhs11 * hdold1 + arhs12 * hdold2 + qcrech + qcleak;
  double arhsv2 = arhs21 * hdold1 + arhs22 * hdold2 + qcrech + qcleak;

  // Radial flow: every term weighted with the radius, linear over the
  // element, around the mean radius of the element.
  if (s.iaxsym != 0) {
    const double radzer = (s.ecoord(ip2) + s.ecoord(ip1)) * 0.5;
    const double bijal6 = s.el * bijsl6 * 0.5;
    const double bijar6 = s.el * bijsr6 * 0.5;
    const double dijalf = s.el * dijlef / 6.0;
    const double dijarg = s.el * dijrig / 6.0;
    const double qdtrad = (qcrech + qcleak) * s.el / 6.0;

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

  addElement(s, ie, alhs11, alhs12, alhs21, alhs22, arhsv1, arhsv2);
}

} // namespace qmr
