// The mass balance of a flow step: water entering at the prescribed-head and
// prescribed-flux nodes, with recharge and through the aquitard, and the
// increase held in storage, summed over the elements from the heads at the
// start and the end of the step.
#include "drivers/step.hpp"
#include "layout/layout.hpp"

namespace qmr {

namespace {
const Layout kBalance(
    "(/,'           MASS BALANCE COMPUTATION',/,'           ************************',/,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM RECHARGE CONDITION    = ',E12.5,/,'   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = ',E12.5,/,'   MASS INCREASE HELD IN STORAGE                   = ',E12.5,/,/,'   MASS OUT OF BALANCE (MASS IN - MASS INCREASE)   = ',E12.5,/,/)");
} // namespace

FlowBalance flowBalance(State &s, double qdsum) {
  double sumsto = 0.0;
  double sumrec = 0.0;
  double sumlek = 0.0;
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const FlowElement e = flowElement(s, ie);
    s.el = e.len;
    s.elstor = e.stor;
    s.elqrch = e.qrch;
    s.elleak = e.leak;
    s.ethick = e.bott;
    s.elhfix = e.hfix;
    s.elqmax = e.qmax;
    const double hdnew1 = s.hdnew(ip1);
    const double hdnew2 = s.hdnew(ip2);
    const double hdold1 = s.hdold(ip1);
    const double hdold2 = s.hdold(ip2);
    const double hd1 = hdnew1 - hdold1;
    const double hd2 = hdnew2 - hdold2;
    const double hnewav = (hdnew1 + hdnew2) * 0.5;
    const double holdav = (hdold1 + hdold2) * 0.5;
    const double hdmean = s.theta * hnewav + s.thetm * holdav;
    s.hddiff = s.elhfix - hdmean;

    if (s.iaxsym == 0) {
      if (e.limited) sbleak(s, ie);
      s.eqleak = s.elleak * s.hddiff;
      if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
      s.elstor = s.ethick * e.sstor + s.elstor;
      const double adhead = (hdnew1 + hdnew2 - hdold1 - hdold2) * 0.5;
      sumsto = sumsto + s.elstor * s.el * adhead;
      sumrec = sumrec + s.elqrch * s.el * s.delta;
      sumlek = sumlek + s.eqleak * s.el * s.delta;
    } else {
      // Per radian: every term integrated over the radius of the element.
      const double rd1 = s.ecoord(ip1);
      const double rd2 = s.ecoord(ip2);
      const double radzer = (rd1 + rd2) * 0.5;
      const double rd12 = rd1 * rd1;
      const double rd13 = rd1 * rd1 * rd1;
      const double rd22 = rd2 * rd2;
      const double rd23 = rd2 * rd2 * rd2;
      const double earea = (rd22 - rd12) * 0.5;
      const double radlek =
          s.el * s.el *
          ((hdnew2 - hdnew1) * s.theta + (hdold2 - hdold1) * s.thetm) / 12.0;
      if (e.limited) sbleak(s, ie);
      s.eqleak = s.elleak * s.hddiff * s.el * radzer - s.elleak * radlek;
      if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
      s.elstor = s.ethick * e.sstor + s.elstor;
      const double coeff = ((hd2 - hd1) / (rd2 - rd1)) / 6.0;
      const double harea =
          (2.0 * (rd23 - rd13) - 3.0 * rd1 * (rd22 - rd12)) * coeff +
          hd1 * earea;
      sumsto = sumsto + s.elstor * harea;
      sumrec = sumrec + s.elqrch * earea * s.delta;
      sumlek = sumlek + s.eqleak * s.delta;
    }
  }

  FlowBalance b;
  b.head = qdsum;
  b.flux = s.pfxsum;
  b.recharge = sumrec;
  b.leakage = sumlek;
  b.storage = sumsto * s.asign;
  b.imbalance = s.pfxsum + qdsum - b.storage + sumrec + sumlek;
  return b;
}

void printFlowBalance(State &s, const FlowBalance &b) {
  write(s.io.lst(), kBalance,
        {b.head, b.flux, b.recharge, b.leakage, b.storage, b.imbalance});
}

} // namespace qmr
