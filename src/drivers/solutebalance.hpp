// The solute mass balance of a transport step, from the discrete equations
// the step solves. Summed over every node, the element equations of a step
// say: the increase of the mass held in the aquifer equals the reactions at
// the prescribed-concentration nodes, plus the prescribed fluxes, plus the
// solute brought by recharge and leakage, minus the dilution of the resident
// water by them and the decay, minus what the advective terms carry. The
// dispersion terms of an element cancel in that sum (dispersion only moves
// solute between nodes; across an end it enters only as part of a reaction).
// The advective terms are written in the non-conservative form (discharge
// times concentration gradient), so their sum is the solute carried across
// the two ends plus, where the discharge changes from element to element, an
// interior divergence term. Each term below is the sum of the same
// coefficients the element matrices hold, applied to the concentrations at
// the old and new level; the imbalance of a solved step is then round-off.
#pragma once

#include "drivers/step.hpp"

namespace qmr {

template <class T>
SoluteBalanceOf<T>
soluteBalance(const Mesh &mesh, const Codes &codes, const Clock &clock,
              const TransportProperties<T> &p, const Prescribed<T> &bc,
              const Levels<T> &lev) {
  SoluteBalanceOf<T> b;
  const double wnew = clock.theta;
  const double wold = -clock.thtm1;
  // The time-weighted concentration of a node over the step.
  auto mean = [&](int ip) -> T {
    return wnew * lev.hdnew(ip) + wold * lev.hdold(ip);
  };

  T before = 0.0; // discharge of the previous element over the step
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double el = mesh.elen(ie);
    // The share of the element's mass terms on each node: half each, or in a
    // radial run the integrals of the radius over the two halves (per
    // radian); the advective terms are weighted with the mean radius.
    double m1 = el * 0.5;
    double m2 = el * 0.5;
    double radius = 1.0;
    if (codes.iaxsym != 0) {
      radius = (mesh.ecoord(ip2) + mesh.ecoord(ip1)) * 0.5;
      const double tilt = el * el / 12.0;
      m1 = radius * el * 0.5 - tilt;
      m2 = radius * el * 0.5 + tilt;
    }
    const T c1 = mean(ip1);
    const T c2 = mean(ip2);
    const T mc = m1 * c1 + m2 * c2;
    const T held = p.poros(ie) * p.retar(ie) * p.thick(ie);

    b.storage = b.storage + held * clock.asign *
                                (m1 * (lev.hdnew(ip1) - lev.hdold(ip1)) +
                                 m2 * (lev.hdnew(ip2) - lev.hdold(ip2)));
    b.decay = b.decay - held * clock.delta * p.decay(ie) * mc;
    b.rechargeDil = b.rechargeDil - p.qrech(ie) * clock.delta * mc;
    b.leakageDil = b.leakageDil - p.qleak(ie) * clock.delta * mc;
    b.recharge =
        b.recharge + p.qrech(ie) * p.crech(ie) * clock.delta * (m1 + m2);
    b.leakage = b.leakage + p.qleak(ie) * p.cleak(ie) * clock.delta * (m1 + m2);

    // Discharge x thickness over the step, positive towards node ie + 1.
    const T q = radius * p.darcy(ie) * p.thick(ie) * clock.delta;
    if (ie == 1) b.inFirst = q * c1;
    if (ie > 1) b.divergence = b.divergence + c1 * (q - before);
    if (ie == mesh.ne) b.inLast = -q * c2;
    before = q;
  }

  for (int ibt = 1; ibt <= bc.nbt; ++ibt) b.value = b.value + bc.qvalb(ibt);
  for (int isb = 1; isb <= bc.nsb; ++isb) {
    b.flux = b.flux + bc.bslod(isb) * clock.delta;
    b.fluid = b.fluid - bc.bslqw(isb) * clock.delta * mean(bc.isbv(isb));
  }

  b.imbalance = b.value + b.flux + b.fluid + b.recharge + b.rechargeDil +
                b.leakage + b.leakageDil + b.decay + b.inFirst + b.inLast +
                b.divergence - b.storage;
  return b;
}

} // namespace qmr
