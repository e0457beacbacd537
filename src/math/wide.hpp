// Fixed-point numbers of 384 bits for the precise paths of the logarithm
// and the power: a signed 64-bit integer part and 320 bits of fraction, in
// two's complement, limbs from the least significant. Products and
// quotients are truncated; an operation loses at most 2^-320.
#pragma once

#include <cstdint>

namespace qmr::crmath {

struct Wide {
  std::uint64_t w[6] = {0, 0, 0, 0, 0, 0};
};

bool isNegative(const Wide &a);
bool isZero(const Wide &a);
Wide negate(const Wide &a);
Wide operator+(const Wide &a, const Wide &b);
Wide operator-(const Wide &a, const Wide &b);
Wide operator*(const Wide &a, const Wide &b);
// a times a small integer; the product must stay below 2^63.
Wide mulInt(const Wide &a, std::int64_t m);
// a divided by a positive integer.
Wide divInt(const Wide &a, std::uint64_t d);
// a times 2^e (e of either sign); the result must stay below 2^63.
Wide scale2(const Wide &a, int e);
// An approximation of a as a double.
double toDouble(const Wide &a);
Wide fromLimbs(const std::uint64_t (&limbs)[6]);

// ln x for positive finite x (normal or subnormal), within about 2^-310.
Wide lnWide(double x);
// e^a for |a| < 1000, as m * 2^k with m in [0.7, 1.5].
Wide expWide(const Wide &a, int &k);

// Rounds m * 2^(k - 320), m positive, to p bits with smallest normal
// exponent emin; *nearTie tells whether m lies within 2^-100 of an ulp from
// a rounding boundary, where only an exact value can decide.
double roundWide(const Wide &m, int k, int p, int emin, bool *nearTie);

} // namespace qmr::crmath
