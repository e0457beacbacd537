// The velocity-file records of a flow step: per element the Darcy velocity,
// the thickness, the leakage rate and the recharge, from the time-weighted
// heads of the step.
#include "drivers/step.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"

namespace qmr {

void velocityBlock(State &s) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double hedold = (s.hdold(ip1) + s.hdold(ip2)) * 0.5;
    const double hednew = (s.hdnew(ip1) + s.hdnew(ip2)) * 0.5;
    const double hedavg = s.theta * hednew + s.thetm * hedold;
    const double head1 = s.hdnew(ip1) * s.theta + s.hdold(ip1) * s.thetm;
    const double head2 = s.hdnew(ip2) * s.theta + s.hdold(ip2) * s.thetm;
    const FlowElement e = flowElement(s, ie);
    s.el = e.len;
    s.eltran = e.tran;
    s.ethick = e.bott;
    s.elqrch = e.qrch;
    s.elleak = e.leak;
    s.elhfix = e.hfix;
    s.elqmax = e.qmax;
    const double hdmean = (head1 + head2) * 0.5;
    // The saturated thickness, not clamped as in the iteration.
    if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
    const double ehdiff = head2 - head1;
    s.hddiff = s.elhfix - hedavg;
    s.edarcy = -(s.eltran * ehdiff / s.el);
    // The limiter leaves its own time-weighted difference in hddiff.
    if (e.limited) sbleak(s, ie);
    s.eqleak = s.elleak * s.hddiff;
    if (s.iaxsym == 1) {
      const double radzer = (s.ecoord(ip1) + s.ecoord(ip2)) * 0.5;
      s.eqleak = s.eqleak - (s.el * s.elleak * ehdiff) / (radzer * 12.0);
    }
    write(s.io.u10, kVelocityRecord,
          {ie, s.edarcy, s.ethick, s.eqleak, s.elqrch});
  }
}

} // namespace qmr
