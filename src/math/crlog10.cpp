// Correctly rounded decimal logarithm: ln x from a table of 128 reciprocals
// and a polynomial, times 1/ln 10, first to about 2^-71, then (one call in
// some hundreds) in double-double to about 2^-102; the rare arguments whose
// rounding neither decides go to the fixed-point path.
#include <limits>

#include "math/crlog.hpp"
#include "math/crmath.hpp"
#include "math/crtables.hpp"
#include "math/wide.hpp"

namespace qmr {
namespace crmath {

namespace {

struct Reduced {
  int e, i; // x = 2^e m, table index i
  DD z;     // m r - 1
};

// x = 2^e m; with i the top seven fraction bits of m in [1,2), m is halved
// (and e raised) when i >= 53, so that m * r - 1 = z is small (|z| < 2^-7)
// and ln x = e ln 2 - ln r + ln(1 + z).
Reduced reduce(double x) {
  int e = 0;
  const std::uint64_t b = normalBits(x, e);
  e -= 1023;
  const std::uint64_t frac = b & ((std::uint64_t{1} << 52) - 1);
  const int i = static_cast<int>(frac >> 45);
  double m = fromBits(frac | (std::uint64_t{1023} << 52));
  if (i >= 53) {
    m *= 0.5;
    e += 1;
  }
  const DD p = twoProd(m, kLogR[i]);
  return {e, i, twoSum(p.hi - 1.0, p.lo)};
}

} // namespace

// ln(1+z) = z - z^2/2 + z^3/3 + z^4 P(z): z^2 and z^3/3 in double-double,
// the rest (below 2^-23 |z|) in double; e ln 2 - ln r with its error below
// 2^-88.
DD lnQuick(double x) {
  const Reduced red = reduce(x);
  const double zh = red.z.hi, zl = red.z.lo;
  double t = kLogQ[9][0];
  for (int k = 8; k >= 2; --k) t = t * zh + kLogQ[k][0];
  const DD sq = twoProd(zh, zh);
  const double tail = t * (sq.hi * sq.hi);
  DD cube = twoProd(sq.hi, zh);
  cube.lo += sq.lo * zh;
  DD third = twoProd(cube.hi, kLogQ[1][0]);
  third.lo += cube.lo * kLogQ[1][0] + cube.hi * kLogQ[1][1];
  const DD a = fastTwoSum(zh, -0.5 * sq.hi);
  const DD b = fastTwoSum(a.hi, third.hi);
  const double lo = a.lo + b.lo + zl - 0.5 * sq.lo - zh * zl + third.lo + tail;
  const DD l1p{b.hi, lo};
  const double de = static_cast<double>(red.e);
  DD s = fastTwoSum(de * kLn2Hi, kLogL[red.i][0]);
  s.lo += kLogL[red.i][1] + de * kLn2Mid;
  DD u = twoSum(s.hi, l1p.hi);
  u.lo += s.lo + l1p.lo;
  return fastTwoSum(u.hi, u.lo);
}

DD lnDD(double x) {
  const Reduced red = reduce(x);
  const DD z = red.z;
  const int e = red.e, i = red.i;
  // (ln(1+z) - z)/z^2: the terms of z^8 and above in double, the rest in
  // double-double.
  double t = kLogQ[13][0];
  for (int k = 12; k >= 6; --k) t = t * z.hi + kLogQ[k][0];
  double zh, zl;
  split(z.hi, zh, zl);
  DD q{t, 0.0};
  for (int k = 5; k >= 0; --k)
    q = hornerStep(DD{kLogQ[k][0], kLogQ[k][1]}, q, z, zh, zl);
  const DD lnz = addNear(z, mul(mul(z, z), q));
  // e ln 2 and -ln r have the same sign or |e ln 2| >= 2 |ln r|; ln(1+z)
  // is small beside their sum, or e = 0 and it is below half of |ln r|.
  const double de = static_cast<double>(e);
  const DD mid = twoProd(de, kLn2Mid);
  DD s = fastTwoSum(de * kLn2Hi, mid.hi);
  s.lo += mid.lo + de * kLn2Lo;
  s = addNear(s, DD{kLogL[i][0], kLogL[i][1]});
  return addNear(s, lnz);
}

double log10Precise(double x) {
  Wide v = lnWide(x) * fromLimbs(kFixInvLn10);
  const bool neg = isNegative(v);
  if (neg) v = negate(v);
  bool nearTie = false;
  const double r = roundWide(v, 0, 53, -1022, &nearTie);
  return neg ? -r : r;
}

} // namespace crmath

double crlog10(double x) {
  using namespace crmath;
  if (!(x > 0.0)) {
    if (x == 0.0) return -std::numeric_limits<double>::infinity();
    if (x != x) return x + x;
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (x == std::numeric_limits<double>::infinity()) return x;
  if (x == 1.0) return 0.0;
  // First within 2^-63 (the computation is good to about 2^-71), then
  // within 2^-95 (good to about 2^-102); a bound that straddles a rounding
  // boundary at both leaves it to the fixed-point path.
  const DD invLn10{kInvLn10Hi, kInvLn10Lo};
  DD q = mul(lnQuick(x), invLn10);
  const bool neg = q.hi < 0.0;
  if (neg) q = DD{-q.hi, -q.lo};
  double out;
  if (roundScaled(q.hi, q.lo, 0, 0x1p-63, 53, -1022, out))
    return neg ? -out : out;
  DD r = mul(lnDD(x), invLn10);
  if (neg) r = DD{-r.hi, -r.lo};
  if (roundScaled(r.hi, r.lo, 0, 0x1p-95, 53, -1022, out))
    return neg ? -out : out;
  return log10Precise(x);
}

} // namespace qmr
