// The mass balance of a flow step: water entering at the prescribed-head and
// prescribed-flux nodes, with recharge and through the aquitard, and the
// increase held in storage, summed over the elements from the heads at the
// start and the end of the step.
#include "drivers/step.hpp"
#include "io/layout.hpp"

namespace qmr {

namespace {
const Layout kBalance(
    "(/,'           MASS BALANCE COMPUTATION',/,'           ************************',/,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM RECHARGE CONDITION    = ',E12.5,/,'   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = ',E12.5,/,'   MASS INCREASE HELD IN STORAGE                   = ',E12.5,/,/,'   MASS OUT OF BALANCE (MASS IN - MASS INCREASE)   = ',E12.5,/,/)");
} // namespace

FlowBalance flowBalance(const Mesh &mesh, const Codes &codes,
                        const Clock &clock, const FlowProperties<double> &p,
                        const Levels<double> &lev, double pfxsum,
                        double qdsum) {
  const double theta = clock.theta;
  const double thetm = clock.thetm;
  double sumsto = 0.0;
  double sumrec = 0.0;
  double sumlek = 0.0;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double el = mesh.elen(ie);
    double elstor = p.estor(ie);
    const double elqrch = p.eqrch(ie);
    double elleak = p.eleak(ie);
    double ethick = p.ebott(ie);
    const StepHeads h = stepHeads(lev, ie);
    const double hd1 = h.hdnew1 - h.hdold1;
    const double hd2 = h.hdnew2 - h.hdold2;
    const double hnewav = (h.hdnew1 + h.hdnew2) * 0.5;
    const double holdav = (h.hdold1 + h.hdold2) * 0.5;
    const double hdmean = theta * hnewav + thetm * holdav;
    // The balance's own head difference across the aquitard; where the
    // leakage is capped, the limiter's time-weighted difference (rounded
    // differently) takes its place, as the limiter has always left it.
    double hddiff = p.ehfix(ie) - hdmean;
    if (p.iqmax(ie) == 1) {
      const Leakage<double> l = limitLeakage(p, h, ie, theta);
      elleak = l.elleak;
      hddiff = l.hddiff;
    }

    if (codes.iaxsym == 0) {
      const double eqleak = elleak * hddiff;
      if (codes.i2dwt == 1) ethick = hdmean - ethick;
      elstor = ethick * p.espec(ie) + elstor;
      const double adhead = (h.hdnew1 + h.hdnew2 - h.hdold1 - h.hdold2) * 0.5;
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
      const double radlek =
          el * el *
          ((h.hdnew2 - h.hdnew1) * theta + (h.hdold2 - h.hdold1) * thetm) /
          12.0;
      const double eqleak = elleak * hddiff * el * radzer - elleak * radlek;
      if (codes.i2dwt == 1) ethick = hdmean - ethick;
      elstor = ethick * p.espec(ie) + elstor;
      const double coeff = ((hd2 - hd1) / (rd2 - rd1)) / 6.0;
      const double harea =
          (2.0 * (rd23 - rd13) - 3.0 * rd1 * (rd22 - rd12)) * coeff +
          hd1 * earea;
      sumsto = sumsto + elstor * harea;
      sumrec = sumrec + elqrch * earea * clock.delta;
      sumlek = sumlek + eqleak * clock.delta;
    }
  }

  FlowBalance b;
  b.head = qdsum;
  b.flux = pfxsum;
  b.recharge = sumrec;
  b.leakage = sumlek;
  b.storage = sumsto * clock.asign;
  b.imbalance = pfxsum + qdsum - b.storage + sumrec + sumlek;
  return b;
}

void printFlowBalance(Files &io, const FlowBalance &b) {
  write(io.lst(), kBalance,
        {b.head, b.flux, b.recharge, b.leakage, b.storage, b.imbalance});
}

} // namespace qmr
