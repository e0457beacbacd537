// The mass balance of a flow step: water entering at the prescribed-head and
// prescribed-flux nodes, with recharge and through the aquitard, and the
// increase held in storage, summed over the elements from the heads at the
// start and the end of the step; on any number type.
#pragma once

#include "drivers/step.hpp"

namespace qmr {

template <class T>
FlowBalanceOf<T> flowBalance(const Mesh &mesh, const Codes &codes,
                             const Clock &clock, const FlowProperties<T> &p,
                             const Levels<T> &lev, const T &pfxsum,
                             const T &qdsum) {
  const double theta = clock.theta;
  const double thetm = clock.thetm;
  T sumsto = 0.0;
  T sumrec = 0.0;
  T sumlek = 0.0;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double el = mesh.elen(ie);
    T elstor = p.estor(ie);
    const T elqrch = p.eqrch(ie);
    T elleak = p.eleak(ie);
    T ethick = p.ebott(ie);
    const StepHeads<T> h = stepHeads(lev, ie);
    const T hd1 = h.hdnew1 - h.hdold1;
    const T hd2 = h.hdnew2 - h.hdold2;
    const T hnewav = (h.hdnew1 + h.hdnew2) * 0.5;
    const T holdav = (h.hdold1 + h.hdold2) * 0.5;
    const T hdmean = theta * hnewav + thetm * holdav;
    // The balance's own head difference across the aquitard; where the
    // leakage is capped, the limiter's time-weighted difference (rounded
    // differently) takes its place, as the limiter has always left it.
    T hddiff = p.ehfix(ie) - hdmean;
    if (p.iqmax(ie) == 1) {
      const Leakage<T> l = limitLeakage(p, h, ie, theta);
      elleak = l.elleak;
      hddiff = l.hddiff;
    }

    if (codes.iaxsym == 0) {
      const T eqleak = elleak * hddiff;
      if (codes.i2dwt == 1) ethick = hdmean - ethick;
      elstor = ethick * p.espec(ie) + elstor;
      const T adhead = (h.hdnew1 + h.hdnew2 - h.hdold1 - h.hdold2) * 0.5;
      sumsto = sumsto + elstor * el * adhead;
      sumrec = sumrec + elqrch * el * clock.delta;
      sumlek = sumlek + eqleak * el * clock.delta;
    } else {
      // Per radian: every term integrated over the radius of the element.
      const double rd1 = mesh.ecoord(ip1);
      const double rd2 = mesh.ecoord(ip2);
      const double radzer = (rd1 + rd2) * 0.5;
      const double rd12 = rd1 * rd1;
      const double rd13 = rd1 * rd1 * rd1;
      const double rd22 = rd2 * rd2;
      const double rd23 = rd2 * rd2 * rd2;
      const double earea = (rd22 - rd12) * 0.5;
      const T radlek =
          el * el *
          ((h.hdnew2 - h.hdnew1) * theta + (h.hdold2 - h.hdold1) * thetm) /
          12.0;
      const T eqleak = elleak * hddiff * el * radzer - elleak * radlek;
      if (codes.i2dwt == 1) ethick = hdmean - ethick;
      elstor = ethick * p.espec(ie) + elstor;
      const T coeff = ((hd2 - hd1) / (rd2 - rd1)) / 6.0;
      const T harea =
          (2.0 * (rd23 - rd13) - 3.0 * rd1 * (rd22 - rd12)) * coeff +
          hd1 * earea;
      sumsto = sumsto + elstor * harea;
      sumrec = sumrec + elqrch * earea * clock.delta;
      sumlek = sumlek + eqleak * clock.delta;
    }
  }

  FlowBalanceOf<T> b;
  b.head = qdsum;
  b.flux = pfxsum;
  b.recharge = sumrec;
  b.leakage = sumlek;
  b.storage = sumsto * clock.asign;
  b.imbalance = pfxsum + qdsum - b.storage + sumrec + sumlek;
  return b;
}

} // namespace qmr
