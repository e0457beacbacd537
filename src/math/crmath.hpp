// Correctly rounded decimal logarithm and power (round to nearest, ties to
// even), computed with basic IEEE operations and integer arithmetic only, so
// that every platform and C library gives the same bits.
#pragma once

namespace qmr {

// Decimal logarithm of x, correctly rounded; special values as C's log10.
double crlog10(double x);

// x raised to the power y, correctly rounded; special values as C's pow.
double crpow(double x, double y);

// x raised to the power y in single precision, correctly rounded; special
// values as C's powf.
float crpowf(float x, float y);

namespace crmath {
// The precise paths alone (for positive finite x, and finite non-zero y not
// far out of range), used when the fast paths cannot decide the rounding;
// exposed for the tests.
double log10Precise(double x);
double powPrecise(double x, double y);
float powfPrecise(float x, float y);
} // namespace crmath

} // namespace qmr
