// Writing single fields: I, E, F and A.
//
// E and F digits come from the exact binary value of the double. The fast
// path scales the value's 53-bit integer mantissa by a 64-bit lower bound of
// the power of ten (pow10.hpp) in 128-bit arithmetic: the product then lies
// below the exact scaled value by less than twice the mantissa, in units of
// the product's last bit. When the part below the last digit is clear of the
// half-way point by more than that bound, the rounding is decided; when it is
// not (exact ties among them), std::to_chars with a precision gives the
// correctly rounded digits, ties to even.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "io/field.hpp"
#include "io/pow10.hpp"

namespace qmr::field {

namespace {

constexpr char kTwoDigits[] = "00010203040506070809"
                              "10111213141516171819"
                              "20212223242526272829"
                              "30313233343536373839"
                              "40414243444546474849"
                              "50515253545556575859"
                              "60616263646566676869"
                              "70717273747576777879"
                              "80818283848586878889"
                              "90919293949596979899";

// The n lowest decimal digits of v (leading zeros included) at out.
void putDigits(char *out, std::uint64_t v, int n) {
  if (n <= 9) { // the digit counts of the layouts, in 32-bit arithmetic
    auto u = static_cast<std::uint32_t>(v);
    char *p = out + n;
    while (n >= 2) {
      const std::uint32_t r = u % 100;
      u /= 100;
      p -= 2;
      std::memcpy(p, kTwoDigits + 2 * r, 2);
      n -= 2;
    }
    if (n == 1) *--p = static_cast<char>('0' + u);
    return;
  }
  char *p = out + n;
  while (n >= 2) {
    const auto r = static_cast<unsigned>(v % 100);
    v /= 100;
    p -= 2;
    std::memcpy(p, kTwoDigits + 2 * r, 2);
    n -= 2;
  }
  if (n == 1) *--p = static_cast<char>('0' + v % 10);
}

// The d digits (d = 1..17) of an E field's significand at out, which has
// room for four more characters (the exponent's) after them.
void putSignificand(char *out, std::uint64_t v, int d) {
  if (d < 4 || d > 8) {
    putDigits(out, v, d);
    return;
  }
  // Eight digits, of which the last d are written with one store; the
  // rest of the store falls on the exponent's columns, written next.
  const auto u = static_cast<std::uint32_t>(v);
  const std::uint32_t hi = u / 10000, lo = u % 10000;
  char eight[16] = {};
  std::memcpy(eight, kTwoDigits + 2 * (hi / 100), 2);
  std::memcpy(eight + 2, kTwoDigits + 2 * (hi % 100), 2);
  std::memcpy(eight + 4, kTwoDigits + 2 * (lo / 100), 2);
  std::memcpy(eight + 6, kTwoDigits + 2 * (lo % 100), 2);
  std::memcpy(out, eight + 8 - d, 8);
}

// Decimal digit count of v (1 for 0).
int digitCount(std::uint64_t v) {
  int n = 1;
  while (n < 20 && v >= kTenTo[n]) ++n;
  return n;
}

char *fill(char *out, char c, int n) {
  std::memset(out, c, static_cast<std::size_t>(n));
  return out + n;
}

// s right-justified in w columns; w asterisks when it does not fit.
char *fitRight(char *out, const char *s, int n, int w) {
  if (n > w) return fill(out, '*', w);
  out = fill(out, ' ', w - n);
  std::memcpy(out, s, static_cast<std::size_t>(n));
  return out + n;
}

// The binary form of a positive finite double: a = m * 2^q.
struct Binary {
  std::uint64_t m;
  int q;
};

Binary binary(double a) {
  const auto bits = std::bit_cast<std::uint64_t>(a);
  const int be = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  if (be == 0) return {m, -1074};
  return {m | (std::uint64_t{1} << 52), be - 1075};
}

enum class Round { Down, Up, Unsure };

// a * 10^k rounded to the nearest integer, as n and whether to add one:
// Unsure when the fast path cannot decide (or n would not fit 64 bits).
// Values below one half give 0 and Down.
Round scaled(const Binary &x, int k, std::uint64_t &n) {
  const Pow10 &p = pow10(k);
  const u128 prod = static_cast<u128>(x.m) * p.c; // < 2^117
  const int s = -(x.q + p.b);
  if (s >= 119) { // prod + 2m < 2^118: below one half
    n = 0;
    return Round::Down;
  }
  if (s < 1) return Round::Unsure;
  if ((prod >> s) >> 64 != 0) return Round::Unsure;
  n = static_cast<std::uint64_t>(prod >> s);
  const u128 frac = prod & ((u128{1} << s) - 1);
  const u128 half = u128{1} << (s - 1);
  if (frac > half) return Round::Up;
  if (frac + 2 * static_cast<u128>(x.m) <= half) return Round::Down;
  return Round::Unsure;
}

// The d significant digits of a > 0 (d = 1..17), rounded, and the exponent
// e with a = 0.digits * 10^e. False when the fast path cannot decide.
//
// The exponent is estimated from the binary exponent: it is e or one less.
// When it is one less, the scaled value has one digit too many, and the
// digit dropped (with the bits below it) decides the rounding: one product
// serves both cases.
bool fastDigits(double a, int d, std::uint64_t &digits, int &e) {
  const Binary x = binary(a);
  const int log2a = x.q + std::bit_width(x.m) - 1;
  e = ((log2a * 78913) >> 18) + 1;
  const Pow10 &p = pow10(d - e);
  const u128 prod = static_cast<u128>(x.m) * p.c; // < 2^117
  const int s = -(x.q + p.b);
  if (s < 65 || s > 126) return false; // subnormals, d above 14
  // The product's high word holds the digits and the top of the part below
  // them; its low word and the shortfall (2m < 2^54) are less than two
  // units of the high word, which the decisions allow for.
  const auto hi = static_cast<std::uint64_t>(prod >> 64);
  const auto lo = static_cast<std::uint64_t>(prod);
  const int t = s - 64;
  std::uint64_t n = hi >> t;
  const std::uint64_t one = std::uint64_t{1} << t;
  const std::uint64_t frac = hi & (one - 1);
  if (n >= kTenTo[d]) {
    ++e;
    const std::uint64_t r = n % 10;
    n /= 10;
    if (r > 5 || (r == 5 && (frac | lo) != 0))
      ++n;
    else if (r == 5 || (r == 4 && frac + 2 > one))
      return false; // at or near the half-way point
  } else {
    const std::uint64_t half = one >> 1;
    if (frac > half || (frac == half && lo != 0))
      ++n;
    else if (frac + 2 > half)
      return false;
  }
  if (n == kTenTo[d]) { // 9.99...5 rounds up to the next decade
    n = kTenTo[d - 1];
    ++e;
  }
  if (n < kTenTo[d - 1]) return false;
  digits = n;
  return true;
}

// The same from std::to_chars: d digits at out (d <= 60) and the exponent.
[[gnu::noinline, gnu::cold]] void exactDigits(double a, int d, char *out,
                                              int &e) {
  char buf[128];
  const auto r = std::to_chars(buf, buf + sizeof buf, a,
                               std::chars_format::scientific, d - 1);
  int nd = 0;
  const char *p = buf;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && nd < d) out[nd++] = *p;
  }
  int x = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), r.ptr, x);
  e = x + 1;
}

// Infinities and not-a-number values: written as a word when it fits.
[[gnu::noinline, gnu::cold]] bool special(char *&out, double v, int w) {
  if (std::isnan(v)) {
    out = fitRight(out, "NaN", 3, w);
    return true;
  }
  if (std::isinf(v)) {
    const bool neg = v < 0;
    if ((neg ? 9 : 8) <= w)
      out = fitRight(out, neg ? "-Infinity" : "Infinity", neg ? 9 : 8, w);
    else
      out = fitRight(out, neg ? "-Inf" : "Inf", neg ? 4 : 3, w);
    return true;
  }
  return false;
}

} // namespace

const char *const kTooLarge = "is too large for a floating value";

char *writeI(char *out, int v, int w, bool widen) {
  char buf[16];
  char *end = buf + sizeof buf;
  char *p = end;
  std::uint32_t u = v < 0 ? 0u - static_cast<std::uint32_t>(v)
                          : static_cast<std::uint32_t>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  const int n = static_cast<int>(end - p);
  if (widen && n > w) w = n;
  return fitRight(out, p, n, w);
}

char *writeE(char *out, double v, int w, int d) {
  if (!std::isfinite(v)) {
    special(out, v, w);
    return out;
  }
  if (d < 1) d = 1;
  if (d > 60) d = 60;       // no layout comes near
  const bool neg = v < 0.0; // a negative zero is written as zero
  const double a = std::fabs(v);
  // [-]0.<d digits><four exponent characters>: a double's decimal exponent
  // has at most three digits.
  const int n = (neg ? 1 : 0) + d + 6;
  if (n - 1 > w) return fill(out, '*', w);
  char *p = out;
  if (n <= w) {
    const int blanks = w - n;
    if (blanks <= 8 && w >= 8)
      std::memcpy(out, "        ", 8); // within the field, overwritten
    else
      std::memset(out, ' ', static_cast<std::size_t>(blanks));
    p += blanks;
  }
  if (neg) *p++ = '-';
  if (n <= w) *p++ = '0'; // one column short: the leading zero goes
  *p++ = '.';
  int e = 0;
  std::uint64_t digits = 0;
  if (a == 0.0) {
    std::memset(p, '0', static_cast<std::size_t>(d));
  } else if (d <= 17 && fastDigits(a, d, digits, e)) {
    putSignificand(p, digits, d);
  } else {
    exactDigits(a, d, p, e);
  }
  p += d;
  const int ae = e < 0 ? -e : e;
  if (ae <= 99) {
    *p++ = 'E';
    *p++ = e < 0 ? '-' : '+';
  } else { // three digits take the letter's place
    *p++ = e < 0 ? '-' : '+';
    *p++ = static_cast<char>('0' + ae / 100);
  }
  std::memcpy(p, kTwoDigits + 2 * (ae % 100), 2);
  return p + 2;
}

char *writeF(char *out, double v, int w, int d) {
  if (special(out, v, w)) return out;
  const bool neg = v < 0.0;
  const double a = std::fabs(v);
  std::uint64_t n = 0;
  Round r = Round::Down;
  if (a != 0.0) r = d <= 17 ? scaled(binary(a), d, n) : Round::Unsure;
  if (r == Round::Up) {
    if (n == ~std::uint64_t{0})
      r = Round::Unsure;
    else
      ++n;
  }
  if (r != Round::Unsure) {
    // [-]<integer digits>[.<d digits>], at least one integer digit
    const int nd = digitCount(n) > d + 1 ? digitCount(n) : d + 1;
    const int len = (neg && n != 0 ? 1 : 0) + nd + (d > 0 ? 1 : 0);
    if (len > w) return fill(out, '*', w);
    out = fill(out, ' ', w - len);
    if (neg && n != 0) *out++ = '-';
    const std::uint64_t scale = kTenTo[d];
    putDigits(out, n / scale, nd - d);
    out += nd - d;
    if (d > 0) {
      *out++ = '.';
      putDigits(out, n % scale, d);
      out += d;
    }
    return out;
  }
  char buf[512];
  const auto res = std::to_chars(buf, buf + sizeof buf - 1, neg ? -a : a,
                                 std::chars_format::fixed, d);
  if (res.ec != std::errc()) return fill(out, '*', w);
  const char *s = buf;
  int len = static_cast<int>(res.ptr - buf);
  // A value that rounds to zero keeps no sign.
  bool allZero = true;
  for (const char *q = buf; q < res.ptr; ++q) {
    if (*q >= '1' && *q <= '9') allZero = false;
  }
  if (allZero && len > 0 && s[0] == '-') {
    ++s;
    --len;
  }
  return fitRight(out, s, len, w);
}

char *writeA(char *out, std::string_view t, int w) {
  const auto uw = static_cast<std::size_t>(w);
  if (uw >= t.size()) {
    out = fill(out, ' ', static_cast<int>(uw - t.size()));
    std::memcpy(out, t.data(), t.size());
    return out + t.size();
  }
  std::memcpy(out, t.data(), uw);
  return out + uw;
}

} // namespace qmr::field
