// Aquitard leakage limiter: caps the leakage into the aquifer of an element
// at its maximum rate by reducing the effective leakage coefficient.
#include "fem/fem.hpp"

namespace qmr {

void sbleak(State &s, int ie) {
  s.hnavg = (s.hdnew(ie) + s.hdnew(ie + 1)) * 0.5;
  s.hoavg = (s.hdold(ie) + s.hdold(ie + 1)) * 0.5;

  const double hdfnew = s.ehfix(ie) - s.hnavg;
  const double hdfold = s.ehfix(ie) - s.hoavg;
  s.hddiff = s.theta * hdfnew + (1.0 - s.theta) * hdfold;

  // Only leakage into the aquifer is limited.
  if (s.hddiff < static_cast<double>(1.0E-10f)) return;

  double qlknew = s.elleak * hdfnew;
  double qlkold = s.elleak * hdfold;
  if (qlknew > s.elqmax) qlknew = s.elqmax;
  if (qlkold > s.elqmax) qlkold = s.elqmax;
  const double qlkavg = s.theta * qlknew + (1.0 - s.theta) * qlkold;

  s.elleak = qlkavg / s.hddiff;
}

} // namespace qmr
