// Aquitard leakage limiter: caps the leakage into the aquifer of an element
// at its maximum rate by reducing the effective leakage coefficient.
#pragma once

#include "fem/element.hpp"
#include "fem/scalar.hpp"

namespace qmr {

template <class T> Leakage<T> sbleak(const LeakageInput<T> &in, double theta) {
  Leakage<T> out{(in.hnew1 + in.hnew2) * 0.5, (in.hold1 + in.hold2) * 0.5,
                 T(0.0), in.elleak};

  const T hdfnew = in.ehfix - out.hnavg;
  const T hdfold = in.ehfix - out.hoavg;
  out.hddiff = theta * hdfnew + (1.0 - theta) * hdfold;

  // Only leakage into the aquifer is limited.
  if (value(out.hddiff) < static_cast<double>(1.0E-10f)) return out;

  T qlknew = in.elleak * hdfnew;
  T qlkold = in.elleak * hdfold;
  out.capNew = qlknew - in.elqmax;
  out.capOld = qlkold - in.elqmax;
  if (value(qlknew) > value(in.elqmax)) qlknew = in.elqmax;
  if (value(qlkold) > value(in.elqmax)) qlkold = in.elqmax;
  const T qlkavg = theta * qlknew + (1.0 - theta) * qlkold;

  out.elleak = qlkavg / out.hddiff;
  return out;
}

} // namespace qmr
