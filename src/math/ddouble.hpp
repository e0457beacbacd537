// Double-double arithmetic (a value as the unevaluated sum of two doubles)
// and the rounding of such a value, known within a relative bound, to a
// binary floating format. Exact only without contraction into fused
// multiply-adds, which the build forbids.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace qmr::crmath {

struct DD {
  double hi, lo;
};

inline std::uint64_t bitsOf(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline double fromBits(std::uint64_t b) { return std::bit_cast<double>(b); }

// The bits of a positive x and, in e, its biased exponent; a subnormal x is
// scaled by 2^64 first (its bits then those of x 2^64, e lowered by 64).
inline std::uint64_t normalBits(double x, int &e) {
  std::uint64_t b = bitsOf(x);
  e = static_cast<int>((b >> 52) & 0x7ff);
  if (e == 0) {
    b = bitsOf(x * 0x1p64);
    e = static_cast<int>((b >> 52) & 0x7ff) - 64;
  }
  return b;
}

// 2^e for -1074 <= e <= 1023.
inline double pow2(int e) {
  if (e >= -1022) return fromBits(static_cast<std::uint64_t>(e + 1023) << 52);
  return fromBits(std::uint64_t{1} << (e + 1074));
}

// s + e == a + b exactly.
inline DD twoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  const double e = (a - (s - bb)) + (b - bb);
  return {s, e};
}

// As twoSum when |a| >= |b| (or a == 0).
inline DD fastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// Veltkamp's split of a into two halves of 26 bits.
inline void split(double a, double &h, double &l) {
  const double c = 134217729.0 * a;
  h = c - (c - a);
  l = a - h;
}

// p + e == a * b exactly (Dekker), barring overflow and underflow.
inline DD twoProd(double a, double b) {
  const double p = a * b;
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  const double e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
  return {p, e};
}

inline DD add(DD a, DD b) {
  DD s = twoSum(a.hi, b.hi);
  const DD t = twoSum(a.lo, b.lo);
  s.lo += t.hi;
  s = fastTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return fastTwoSum(s.hi, s.lo);
}

// a + b when neither cancels the other much (|a + b| >= (|a| + |b|)/4):
// the error stays near 2^-105 |a + b|.
inline DD addNear(DD a, DD b) {
  DD s = twoSum(a.hi, b.hi);
  s.lo += a.lo + b.lo;
  return fastTwoSum(s.hi, s.lo);
}

// c + q * z for a Horner step, |q * z| < |c|, with z.hi split beforehand.
inline DD hornerStep(DD c, DD q, DD z, double zh, double zl) {
  const double p = q.hi * z.hi;
  double qh, ql;
  split(q.hi, qh, ql);
  const double e = ((qh * zh - p) + qh * zl + ql * zh) + ql * zl;
  const DD s = fastTwoSum(c.hi, p);
  return fastTwoSum(s.hi, s.lo + (c.lo + (e + (q.hi * z.lo + q.lo * z.hi))));
}

inline DD mul(DD a, DD b) {
  DD p = twoProd(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return fastTwoSum(p.hi, p.lo);
}

// Rounds v = (h + l) * 2^k, h > 0 normal and |l| below ulp(h), to the
// nearest value of p bits with smallest normal exponent emin (53, -1022 for
// double; 24, -126 for float), knowing that v is within eps * v of the
// exact result. The result is returned as a double (exact; infinity on
// overflow of double). False when the bound straddles a rounding boundary.
inline bool roundScaled(double h, double l, int k, double eps, int p, int emin,
                        double &out) {
  const int eh = static_cast<int>((bitsOf(h) >> 52) & 0x7ff) - 1023;
  double hn = h * pow2(-eh), ln = l * pow2(-eh);
  int kk = k + eh;
  if (hn == 1.0 && ln < 0.0) {
    hn = 2.0;
    ln *= 2.0;
    kk -= 1;
  }
  const int ulpexp = (kk >= emin ? kk : emin) - (p - 1);
  const int s = kk - ulpexp;
  if (s < -1) {
    out = 0.0;
    return true;
  }
  const double scale =
      s >= 0 ? static_cast<double>(std::uint64_t{1} << s) : 0.5;
  const double big = hn * scale, small = ln * scale;
  const double t = static_cast<double>(static_cast<std::int64_t>(big));
  const double f = (big - t) + small;
  const double bound = eps * big * 2.0 + 0x1p-50;
  double n;
  if (f - bound > 0.5 && f + bound < 1.5)
    n = t + 1.0;
  else if (f + bound < 0.5 && f - bound > -0.5)
    n = t;
  else if (f + bound < -0.5 && f - bound > -1.5)
    n = t - 1.0;
  else
    return false;
  if (ulpexp > 1023) {
    out = n == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
    return true;
  }
  out = n * pow2(ulpexp);
  return true;
}

} // namespace qmr::crmath
