// The velocity-file records of a flow step: per element the Darcy velocity,
// the thickness, the leakage rate and the recharge, from the time-weighted
// heads of the step.
#include "drivers/step.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"

namespace qmr {

void velocityBlock(Files &io, const Codes &codes, const Mesh &mesh,
                   const Clock &clock, const FlowProperties<double> &p,
                   const Levels<double> &lev) {
  const double theta = clock.theta;
  const double thetm = clock.thetm;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const StepHeads<double> h = stepHeads(lev, ie);
    const double hedold = (h.hdold1 + h.hdold2) * 0.5;
    const double hednew = (h.hdnew1 + h.hdnew2) * 0.5;
    const double hedavg = theta * hednew + thetm * hedold;
    const double head1 = h.hdnew1 * theta + h.hdold1 * thetm;
    const double head2 = h.hdnew2 * theta + h.hdold2 * thetm;
    const double el = mesh.elen(ie);
    double ethick = p.ebott(ie);
    const double hdmean = (head1 + head2) * 0.5;
    // The saturated thickness, not clamped as in the iteration.
    if (codes.i2dwt == 1) ethick = hdmean - ethick;
    const double ehdiff = head2 - head1;
    double hddiff = p.ehfix(ie) - hedavg;
    const double edarcy = -(p.etran(ie) * ehdiff / el);
    // The limiter leaves its own time-weighted difference.
    double elleak = p.eleak(ie);
    if (p.iqmax(ie) == 1) {
      const Leakage<double> l = limitLeakage(p, h, ie, theta);
      elleak = l.elleak;
      hddiff = l.hddiff;
    }
    double eqleak = elleak * hddiff;
    if (codes.iaxsym == 1) {
      const double radzer = (mesh.ecoord(ip1) + mesh.ecoord(ip2)) * 0.5;
      eqleak = eqleak - (el * elleak * ehdiff) / (radzer * 12.0);
    }
    write(io.velocity, kVelocityRecord,
          {ie, edarcy, ethick, eqleak, p.eqrch(ie)});
  }
}

} // namespace qmr
