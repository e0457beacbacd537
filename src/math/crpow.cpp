// Correctly rounded power in double and single precision: x^y = e^(y ln x)
// with ln x in double-double, e^w from a table of 2^(j/64) and a
// polynomial; when the rounding test fails, the fixed-point path decides,
// and results that are exact ties are recognised by integer arithmetic.
#include <cstdint>
#include <limits>

#include "math/crlog.hpp"
#include "math/crmath.hpp"
#include "math/crtables.hpp"
#include "math/wide.hpp"

namespace qmr {
namespace crmath {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Format {
  int p, emin;
  double overflowW, underflowW; // beyond these, y ln x gives inf / 0
};
constexpr Format kDouble{53, -1022, 710.0, -746.0};
constexpr Format kFloat{24, -126, 90.0, -105.0};

bool isInteger(double y) {
  if (!(y > -0x1p52 && y < 0x1p52)) return true; // large values are integers
  return static_cast<double>(static_cast<std::int64_t>(y)) == y;
}

bool isOdd(double y) {
  if (!(y > -0x1p53 && y < 0x1p53)) return false;
  const auto n = static_cast<std::int64_t>(y);
  return static_cast<double>(n) == y && (n & 1) != 0;
}

// The reduction of e^w: w = n ln2/64 + r, |r| <= ln2/128; returns r.
DD reduceExp(DD w, int &n) {
  const double v = w.hi * k64ByLn2;
  n = static_cast<int>(v + (v >= 0 ? 0.5 : -0.5));
  const double dn = static_cast<double>(n);
  const double a = w.hi - dn * kLn2By64Hi; // exact
  const DD m = twoProd(dn, kLn2By64Mid);
  DD r = twoSum(a, -m.hi);
  r.lo += (w.lo - m.lo) - dn * kLn2By64Lo;
  return fastTwoSum(r.hi, r.lo);
}

// e^w = 2^k (h + l): w = (64k + j) ln2/64 + r, |r| <= ln2/128.
DD expDD(DD w, int &k) {
  int n = 0;
  const DD r = reduceExp(w, n);
  // (e^r - 1 - r)/r^2: terms of r^6 and above in double.
  double t = kExpQ[9][0];
  for (int i = 8; i >= 4; --i) t = t * r.hi + kExpQ[i][0];
  double rh, rl;
  split(r.hi, rh, rl);
  DD q{t, 0.0};
  for (int i = 3; i >= 0; --i)
    q = hornerStep(DD{kExpQ[i][0], kExpQ[i][1]}, q, r, rh, rl);
  const DD em1 = addNear(r, mul(mul(r, r), q));
  const int j = n & 63;
  k = (n - j) / 64;
  const DD tj{kExpT[j][0], kExpT[j][1]};
  return addNear(tj, mul(tj, em1));
}

// e^w as expDD, to about 2^-75: e^r - 1 = r + r^2/2 + r^3 P(r), r^2 exactly,
// the rest (below 2^-25) in double.
DD expQuick(DD w, int &k) {
  int n = 0;
  const DD r = reduceExp(w, n);
  const double rh = r.hi, rl = r.lo;
  double t = kExpQ[6][0];
  for (int i = 5; i >= 1; --i) t = t * rh + kExpQ[i][0];
  const double tail = t * (rh * rh * rh);
  const DD sq = twoProd(rh, rh);
  const DD a = fastTwoSum(rh, 0.5 * sq.hi);
  const double lo = a.lo + rl + 0.5 * sq.lo + rh * rl + tail;
  const int j = n & 63;
  k = (n - j) / 64;
  const double th = kExpT[j][0], tl = kExpT[j][1];
  DD p = twoProd(th, a.hi);
  p.lo += th * lo + tl * a.hi;
  DD res = fastTwoSum(th, p.hi);
  res.lo += p.lo + tl;
  return fastTwoSum(res.hi, res.lo);
}

std::uint64_t isqrt(std::uint64_t n) {
  std::uint64_t s =
      static_cast<std::uint64_t>(__builtin_sqrt(static_cast<double>(n)));
  while (s > 0 && s * s > n) --s;
  while ((s + 1) * (s + 1) <= n) ++s;
  return s;
}

// x^y (x > 0, y > 0) when it is exactly mant 2^exp2 with mant below 2^63:
// y = P / 2^j (j <= 5 when x is no power of two) needs x's odd part to be a
// 2^j-th power; ties of a p-bit format need at most 54 bits, so larger
// results are not looked for.
bool exactPower(double x, double y, std::uint64_t &mant, int &exp2) {
  int ex = 0;
  const std::uint64_t b = normalBits(x, ex);
  std::uint64_t mx =
      (b & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  int e = ex - 1023 - 52;
  while ((mx & 1u) == 0) {
    mx >>= 1;
    ++e;
  }
  int j = 0;
  double py = y;
  while (!isInteger(py) && j < 5) {
    py *= 2.0;
    ++j;
  }
  if (!isInteger(py) || py > 0x1p20) return false;
  const auto P = static_cast<std::int64_t>(py);
  const std::int64_t ep = static_cast<std::int64_t>(e) * P;
  if (ep % (std::int64_t{1} << j) != 0) return false;
  std::uint64_t t = mx;
  for (int i = 0; i < j; ++i) {
    const std::uint64_t s = isqrt(t);
    if (s * s != t) return false;
    t = s;
  }
  std::uint64_t r = 1;
  for (std::int64_t i = 0; i < P; ++i) {
    if (t > 1 && r > (std::uint64_t{1} << 63) / t) return false;
    r *= t;
    if (t == 1) break;
  }
  mant = r;
  exp2 = static_cast<int>(ep / (std::int64_t{1} << j));
  return exp2 > -2000 && exp2 < 2000;
}

// |x|^y by the fixed-point path, x > 0 finite, y finite non-zero, y ln x
// within the format's range.
double powPreciseAbs(double x, double y, const Format &f) {
  std::uint64_t b = bitsOf(y);
  int ey = static_cast<int>((b >> 52) & 0x7ff);
  std::uint64_t my = b & ((std::uint64_t{1} << 52) - 1);
  if (ey == 0)
    ey = 1;
  else
    my |= std::uint64_t{1} << 52;
  ey -= 1023 + 52; // |y| = my 2^ey
  Wide w = mulInt(lnWide(x), static_cast<std::int64_t>(my));
  w = scale2(w, ey);
  if (y < 0) w = negate(w);
  int k = 0;
  const Wide m = expWide(w, k);
  bool nearTie = false;
  const double r = roundWide(m, k, f.p, f.emin, &nearTie);
  std::uint64_t mant = 0;
  int exp2 = 0;
  if (nearTie && y > 0 && exactPower(x, y, mant, exp2)) {
    Wide e;
    e.w[0] = mant;
    return roundWide(e, exp2 + 320, f.p, f.emin, &nearTie);
  }
  return r;
}

// x^y for finite x and y as the special cases of C's pow leave them;
// the result in double, exact for the format f.
double power(double x, double y, const Format &f) {
  if (y == 0.0 || x == 1.0) return 1.0;
  if (x != x || y != y) return x + y;
  const bool yInt = isInteger(y), yOdd = isOdd(y);
  const double ay = y < 0 ? -y : y;
  if (x == 0.0) {
    const bool negZero = bitsOf(x) >> 63;
    if (y < 0) return (yOdd && negZero) ? -kInf : kInf;
    return (yOdd && negZero) ? -0.0 : 0.0;
  }
  const double ax = x < 0 ? -x : x;
  if (ay == kInf) {
    if (ax == 1.0) return 1.0;
    return ((ax < 1.0) == (y > 0)) ? 0.0 : kInf;
  }
  if (ax == kInf) {
    if (x > 0) return y < 0 ? 0.0 : kInf;
    if (y < 0) return yOdd ? -0.0 : 0.0;
    return yOdd ? -kInf : kInf;
  }
  if (x < 0 && !yInt) return std::numeric_limits<double>::quiet_NaN();
  const double sign = (x < 0 && yOdd) ? -1.0 : 1.0;
  if (ax == 1.0) return sign;
  if (ay > 0x1p64) return ((ax < 1.0) == (y > 0)) ? 0.0 : kInf;
  // First with ln x to about 2^-70 (y ln x then within |y ln x| 2^-70) and
  // e^w to about 2^-75, tested against 2^-63 + |w| 2^-65; then in
  // double-double, tested against 2^-94 + |w| 2^-96.
  const DD lq = lnQuick(ax);
  DD wq = twoProd(y, lq.hi);
  wq.lo += y * lq.lo;
  wq = fastTwoSum(wq.hi, wq.lo);
  if (wq.hi > f.overflowW) return sign * kInf;
  if (wq.hi < f.underflowW) return sign * 0.0;
  const double aw = wq.hi < 0 ? -wq.hi : wq.hi;
  int k = 0;
  const DD eq = expQuick(wq, k);
  double out;
  if (roundScaled(eq.hi, eq.lo, k, 0x1p-63 + aw * 0x1p-65, f.p, f.emin, out))
    return sign * out;
  const DD l = lnDD(ax);
  DD w = twoProd(y, l.hi);
  w.lo += y * l.lo;
  w = fastTwoSum(w.hi, w.lo);
  const DD e = expDD(w, k);
  if (roundScaled(e.hi, e.lo, k, 0x1p-94 + aw * 0x1p-96, f.p, f.emin, out))
    return sign * out;
  return sign * powPreciseAbs(ax, y, f);
}

} // namespace

double powPrecise(double x, double y) { return powPreciseAbs(x, y, kDouble); }

float powfPrecise(float x, float y) {
  return static_cast<float>(
      powPreciseAbs(static_cast<double>(x), static_cast<double>(y), kFloat));
}

} // namespace crmath

double crpow(double x, double y) {
  return crmath::power(x, y, crmath::kDouble);
}

float crpowf(float x, float y) {
  return static_cast<float>(crmath::power(
      static_cast<double>(x), static_cast<double>(y), crmath::kFloat));
}

} // namespace qmr
