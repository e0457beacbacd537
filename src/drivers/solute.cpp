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
#include "drivers/step.hpp"

namespace qmr {

SoluteBalance soluteBalance(const State &s) {
  SoluteBalance b;
  const double wnew = s.theta;
  const double wold = -s.thtm1;
  // The time-weighted concentration of a node over the step.
  auto mean = [&](int ip) { return wnew * s.hdnew(ip) + wold * s.hdold(ip); };

  double before = 0.0; // discharge of the previous element over the step
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double el = s.elen(ie);
    // The share of the element's mass terms on each node: half each, or in a
    // radial run the integrals of the radius over the two halves (per
    // radian); the advective terms are weighted with the mean radius.
    double m1 = el * 0.5;
    double m2 = el * 0.5;
    double radius = 1.0;
    if (s.iaxsym != 0) {
      radius = (s.ecoord(ip2) + s.ecoord(ip1)) * 0.5;
      const double tilt = el * el / 12.0;
      m1 = radius * el * 0.5 - tilt;
      m2 = radius * el * 0.5 + tilt;
    }
    const double c1 = mean(ip1);
    const double c2 = mean(ip2);
    const double mc = m1 * c1 + m2 * c2;
    const double held = s.poros(ie) * s.retar(ie) * s.thick(ie);

    b.storage += held * s.asign *
                 (m1 * (s.hdnew(ip1) - s.hdold(ip1)) +
                  m2 * (s.hdnew(ip2) - s.hdold(ip2)));
    b.decay -= held * s.delta * s.decay(ie) * mc;
    b.rechargeDil -= s.qrech(ie) * s.delta * mc;
    b.leakageDil -= s.qleak(ie) * s.delta * mc;
    b.recharge += s.qrech(ie) * s.crech(ie) * s.delta * (m1 + m2);
    b.leakage += s.qleak(ie) * s.cleak(ie) * s.delta * (m1 + m2);

    // Discharge x thickness over the step, positive towards node ie + 1.
    const double q = radius * s.darcy(ie) * s.thick(ie) * s.delta;
    if (ie == 1) b.inFirst = q * c1;
    if (ie > 1) b.divergence += c1 * (q - before);
    if (ie == s.ne) b.inLast = -q * c2;
    before = q;
  }

  for (int ibt = 1; ibt <= s.nbt; ++ibt) b.value += s.qvalb(ibt);
  for (int isb = 1; isb <= s.nsb; ++isb) {
    b.flux += s.bslod(isb) * s.delta;
    b.fluid -= s.bslqw(isb) * s.delta * mean(s.isbv(isb));
  }

  b.imbalance = b.value + b.flux + b.fluid + b.recharge + b.rechargeDil +
                b.leakage + b.leakageDil + b.decay + b.inFirst + b.inLast +
                b.divergence - b.storage;
  return b;
}

} // namespace qmr
