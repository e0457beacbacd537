// One element's record of the velocity file of a flow step: the Darcy
// velocity, the thickness, the leakage rate and the recharge, from the
// time-weighted heads of the step; on any number type.
#pragma once

#include "drivers/step.hpp"

namespace qmr {

template <class T> struct VelocityValues {
  T edarcy; // Darcy velocity × width [L²/T]
  T ethick; // saturated thickness [L]
  T eqleak; // leakage rate per metre of valley [L²/T]
  T eqrech; // recharge rate per metre of valley [L²/T]
};

template <class T>
VelocityValues<T> velocityRecord(const Codes &codes, const Mesh &mesh,
                                 const Clock &clock, const FlowProperties<T> &p,
                                 const Levels<T> &lev, int ie) {
  const double theta = clock.theta;
  const double thetm = clock.thetm;
  const int ip1 = ie;
  const int ip2 = ie + 1;
  const StepHeads<T> h = stepHeads(lev, ie);
  const T hedold = (h.hdold1 + h.hdold2) * 0.5;
  const T hednew = (h.hdnew1 + h.hdnew2) * 0.5;
  const T hedavg = theta * hednew + thetm * hedold;
  const T head1 = h.hdnew1 * theta + h.hdold1 * thetm;
  const T head2 = h.hdnew2 * theta + h.hdold2 * thetm;
  const double el = mesh.elen(ie);
  T ethick = p.ebott(ie);
  const T hdmean = (head1 + head2) * 0.5;
  // The saturated thickness, not clamped as in the iteration.
  if (codes.i2dwt == 1) ethick = hdmean - ethick;
  const T ehdiff = head2 - head1;
  T hddiff = p.ehfix(ie) - hedavg;
  const T edarcy = -(p.etran(ie) * ehdiff / el);
  // The limiter leaves its own time-weighted difference.
  T elleak = p.eleak(ie);
  if (p.iqmax(ie) == 1) {
    const Leakage<T> l = limitLeakage(p, h, ie, theta);
    elleak = l.elleak;
    hddiff = l.hddiff;
  }
  T eqleak = elleak * hddiff;
  if (codes.iaxsym == 1) {
    const double radzer = (mesh.ecoord(ip1) + mesh.ecoord(ip2)) * 0.5;
    eqleak = eqleak - (el * elleak * ehdiff) / (radzer * 12.0);
  }
  return {edarcy, ethick, eqleak, p.eqrch(ie)};
}

// True when the flow step writes a block of the velocity file.
inline bool velocityBlockDue(const Codes &codes, const Clock &clock) {
  return codes.iodarc > 0 && (codes.iodarc == 2 || clock.its == clock.nts);
}

} // namespace qmr
