// Fixed-point arithmetic of the precise paths: ln by the series of atanh,
// exp by its Taylor series after reduction by ln 2, rounding of the result.
#include "math/wide.hpp"

#include "math/crtables.hpp"
#include "math/ddouble.hpp"

#include <limits>

namespace qmr::crmath {
namespace {

__extension__ typedef unsigned __int128 U128;
constexpr int kLimbs = 6;

Wide magnitude(const Wide &a) { return isNegative(a) ? negate(a) : a; }

// Bits lo .. lo+63 of a non-negative number (bits beyond either end are 0).
std::uint64_t bitsAt(const Wide &a, int lo) {
  std::uint64_t r = 0;
  for (int b = 0; b < 64; ++b) {
    const int i = lo + b;
    if (i < 0 || i >= 64 * kLimbs) continue;
    r |= ((a.w[i / 64] >> (i % 64)) & 1u) << b;
  }
  return r;
}

bool anyBelow(const Wide &a, int n) {
  for (int i = 0; i < kLimbs && n > 0; ++i, n -= 64) {
    const std::uint64_t mask =
        n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    if (a.w[i] & mask) return true;
  }
  return false;
}

} // namespace

bool isNegative(const Wide &a) { return (a.w[5] >> 63) != 0; }

bool isZero(const Wide &a) {
  for (const auto v : a.w)
    if (v) return false;
  return true;
}

Wide negate(const Wide &a) {
  Wide r;
  std::uint64_t carry = 1;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t v = ~a.w[i] + carry;
    carry = (carry && v == 0) ? 1 : 0;
    r.w[i] = v;
  }
  return r;
}

Wide operator+(const Wide &a, const Wide &b) {
  Wide r;
  std::uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const U128 s = static_cast<U128>(a.w[i]) + b.w[i] + carry;
    r.w[i] = static_cast<std::uint64_t>(s);
    carry = static_cast<std::uint64_t>(s >> 64);
  }
  return r;
}

Wide operator-(const Wide &a, const Wide &b) { return a + negate(b); }

Wide operator*(const Wide &a, const Wide &b) {
  const Wide x = magnitude(a), y = magnitude(b);
  std::uint64_t p[2 * kLimbs] = {};
  for (int i = 0; i < kLimbs; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < kLimbs; ++j) {
      const U128 t = static_cast<U128>(x.w[i]) * y.w[j] + p[i + j] + carry;
      p[i + j] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
    p[i + kLimbs] = carry;
  }
  Wide r;
  for (int i = 0; i < kLimbs; ++i) r.w[i] = p[i + 5];
  return isNegative(a) != isNegative(b) ? negate(r) : r;
}

Wide mulInt(const Wide &a, std::int64_t m) {
  const Wide x = magnitude(a);
  const std::uint64_t um = m < 0 ? static_cast<std::uint64_t>(-(m + 1)) + 1
                                 : static_cast<std::uint64_t>(m);
  Wide r;
  std::uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const U128 t = static_cast<U128>(x.w[i]) * um + carry;
    r.w[i] = static_cast<std::uint64_t>(t);
    carry = static_cast<std::uint64_t>(t >> 64);
  }
  return isNegative(a) != (m < 0) ? negate(r) : r;
}

Wide divInt(const Wide &a, std::uint64_t d) {
  const Wide x = magnitude(a);
  Wide r;
  U128 rem = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const U128 cur = (rem << 64) | x.w[i];
    r.w[i] = static_cast<std::uint64_t>(cur / d);
    rem = cur % d;
  }
  return isNegative(a) ? negate(r) : r;
}

Wide scale2(const Wide &a, int e) {
  const Wide x = magnitude(a);
  Wide r;
  if (e >= 0) {
    const int q = e / 64, s = e % 64;
    for (int i = kLimbs - 1; i >= q; --i) {
      std::uint64_t v = x.w[i - q] << s;
      if (s && i - q - 1 >= 0) v |= x.w[i - q - 1] >> (64 - s);
      r.w[i] = v;
    }
  } else {
    const int q = (-e) / 64, s = (-e) % 64;
    for (int i = 0; i + q < kLimbs; ++i) {
      std::uint64_t v = x.w[i + q] >> s;
      if (s && i + q + 1 < kLimbs) v |= x.w[i + q + 1] << (64 - s);
      r.w[i] = v;
    }
  }
  return isNegative(a) ? negate(r) : r;
}

double toDouble(const Wide &a) {
  const Wide x = magnitude(a);
  const double v = static_cast<double>(x.w[5]) +
                   static_cast<double>(x.w[4]) * 0x1p-64 +
                   static_cast<double>(x.w[3]) * 0x1p-128;
  return isNegative(a) ? -v : v;
}

Wide fromLimbs(const std::uint64_t (&limbs)[6]) {
  Wide r;
  for (int i = 0; i < kLimbs; ++i) r.w[i] = limbs[i];
  return r;
}

// ln x = ep ln 2 + 2 atanh((m - 1)/(m + 1)) with x = m 2^ep, m in
// [sqrt(2)/2, sqrt(2)), so that |t| < 0.172 and the series gains 5 bits a
// term.
Wide lnWide(double x) {
  int ex = 0;
  const std::uint64_t b = normalBits(x, ex);
  const std::uint64_t mant =
      (b & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e2 = ex - 1023 - 52;
  // x = M 2^-53 2^ep with M 2^-53 in [sqrt(2)/2, sqrt(2)).
  const bool high = mant >= 0x16A09E667F3BCDu;
  const std::uint64_t m = high ? mant : 2 * mant;
  const int ep = high ? e2 + 53 : e2 + 52;
  const std::uint64_t one = std::uint64_t{1} << 53;
  const bool below = m < one;
  Wide num;
  num.w[5] = below ? one - m : m - one;
  const Wide t = divInt(num, m + one);
  const Wide t2 = t * t;
  Wide sum = t, term = t;
  for (std::uint64_t k = 1;; ++k) {
    term = term * t2;
    if (isZero(term)) break;
    sum = sum + divInt(term, 2 * k + 1);
  }
  Wide lnm = scale2(sum, 1);
  if (below) lnm = negate(lnm);
  return mulInt(fromLimbs(kFixLn2), ep) + lnm;
}

Wide expWide(const Wide &a, int &k) {
  const double ad = toDouble(a) * 1.4426950408889634;
  k = static_cast<int>(ad + (ad >= 0 ? 0.5 : -0.5));
  const Wide r = a - mulInt(fromLimbs(kFixLn2), k);
  Wide one;
  one.w[5] = 1;
  Wide sum = one, term = one;
  for (std::uint64_t n = 1;; ++n) {
    term = divInt(term * r, n);
    if (isZero(term)) break;
    sum = sum + term;
  }
  return sum;
}

double roundWide(const Wide &m, int k, int p, int emin, bool *nearTie) {
  int top = 64 * kLimbs - 1;
  while (top >= 0 && ((m.w[top / 64] >> (top % 64)) & 1u) == 0) --top;
  *nearTie = false;
  if (top < 0) return 0.0;
  const int e = top + k - 320;
  const int ulpexp = (e >= emin ? e : emin) - (p - 1);
  const int shift = ulpexp - (k - 320);
  if (shift > 64 * kLimbs) return 0.0;
  std::uint64_t n = bitsAt(m, shift);
  const bool roundBit = ((bitsAt(m, shift - 1) & 1u) != 0);
  const bool sticky = anyBelow(m, shift - 1);
  // The 100 bits below the last kept one, as two halves of 50.
  const std::uint64_t w1 =
      bitsAt(m, shift - 50) & ((std::uint64_t{1} << 50) - 1);
  const std::uint64_t w0 =
      bitsAt(m, shift - 100) & ((std::uint64_t{1} << 50) - 1);
  const std::uint64_t half = std::uint64_t{1} << 49,
                      ones = (std::uint64_t{1} << 50) - 1;
  *nearTie = (w1 == half && w0 == 0) || (w1 == half - 1 && w0 == ones);
  if (roundBit && (sticky || (n & 1u))) ++n;
  if (ulpexp > 1023)
    return n == 0 ? 0.0 : std::numeric_limits<double>::infinity();
  return static_cast<double>(n) * pow2(ulpexp);
}

} // namespace qmr::crmath
