// The correctly rounded logarithm and power: special values as C requires,
// exact results and ties, and agreement with the correctly rounded IEEE
// operations where the power is one (square root, square, reciprocal).
// Their agreement with a high-precision reference on millions of arguments
// is checked by tests/math/test_crmath_reference.py.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "math/crmath.hpp"

using qmr::crlog10;
using qmr::crpow;
using qmr::crpowf;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Same value and same sign of zero.
void expectSame(double want, double got) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << got;
    return;
  }
  EXPECT_EQ(std::bit_cast<std::uint64_t>(want),
            std::bit_cast<std::uint64_t>(got))
      << want << " " << got;
}

double randomPositive(std::mt19937_64 &rng, int lo, int hi) {
  std::uniform_int_distribution<int> e(lo, hi);
  const std::uint64_t frac = rng() & ((std::uint64_t{1} << 52) - 1);
  return std::ldexp(std::bit_cast<double>(frac | (std::uint64_t{1023} << 52)),
                    e(rng));
}

TEST(CrLog10, SpecialValues) {
  expectSame(-kInf, crlog10(0.0));
  expectSame(-kInf, crlog10(-0.0));
  expectSame(kNaN, crlog10(-1.0));
  expectSame(kNaN, crlog10(-kInf));
  expectSame(kInf, crlog10(kInf));
  expectSame(kNaN, crlog10(kNaN));
  expectSame(0.0, crlog10(1.0));
}

TEST(CrLog10, PowersOfTenGiveExactIntegers) {
  double p = 1.0;
  for (int k = 0; k <= 22; ++k, p *= 10.0) expectSame(k, crlog10(p));
}

TEST(CrLog10, SubnormalAndExtremeArguments) {
  // -1074 log10(2) = -323.306215343115809...; 1024 log10(2) - 2^-53 log10(e)
  // for the largest double = 308.254715559916743...
  expectSame(-323.3062153431158, crlog10(std::ldexp(1.0, -1074)));
  expectSame(308.25471555991675, crlog10(std::numeric_limits<double>::max()));
  // Next to 1: log10(1 + u) = u / ln 10 (1 - u/2 + ...).
  const double u = std::ldexp(1.0, -52);
  expectSame(9.64327466553287e-17, crlog10(1.0 + u));
  expectSame(-4.821637332766436e-17, crlog10(1.0 - u / 2));
}

TEST(CrPow, SpecialValuesAsC) {
  const double odd = 3.0, even = 4.0, frac = 0.5;
  for (double x : {0.0, -0.0, 1.0, -1.0, 2.0, kInf, -kInf, kNaN}) {
    expectSame(1.0, crpow(x, 0.0));
    expectSame(1.0, crpow(x, -0.0));
  }
  for (double y : {0.0, 1.0, -2.5, kInf, -kInf, kNaN})
    expectSame(1.0, crpow(1.0, y));
  expectSame(kNaN, crpow(kNaN, 1.0));
  expectSame(kNaN, crpow(2.0, kNaN));
  expectSame(-kInf, crpow(-0.0, -odd));
  expectSame(kInf, crpow(0.0, -odd));
  expectSame(kInf, crpow(-0.0, -even));
  expectSame(kInf, crpow(-0.0, -frac));
  expectSame(kInf, crpow(0.0, -kInf));
  expectSame(-0.0, crpow(-0.0, odd));
  expectSame(0.0, crpow(0.0, odd));
  expectSame(0.0, crpow(-0.0, even));
  expectSame(0.0, crpow(-0.0, frac));
  expectSame(1.0, crpow(-1.0, kInf));
  expectSame(1.0, crpow(-1.0, -kInf));
  expectSame(kInf, crpow(0.5, -kInf));
  expectSame(0.0, crpow(-2.0, -kInf));
  expectSame(0.0, crpow(-0.5, kInf));
  expectSame(kInf, crpow(2.0, kInf));
  expectSame(-0.0, crpow(-kInf, -odd));
  expectSame(0.0, crpow(-kInf, -even));
  expectSame(-kInf, crpow(-kInf, odd));
  expectSame(kInf, crpow(-kInf, frac));
  expectSame(0.0, crpow(kInf, -1.0));
  expectSame(kInf, crpow(kInf, 0.5));
  expectSame(kNaN, crpow(-2.0, 0.5));
  expectSame(-8.0, crpow(-2.0, 3.0));
  expectSame(0.0625, crpow(-2.0, -4.0));
  expectSame(kInf, crpow(10.0, 309.0));
  expectSame(-kInf, crpow(-10.0, 309.0));
  expectSame(0.0, crpow(10.0, -400.0));
  expectSame(-0.0, crpow(-10.0, -401.0));
  expectSame(0.0, crpow(1.0 + std::ldexp(1.0, -52), -std::ldexp(1.0, 70)));
  expectSame(kInf, crpow(0.5, -std::ldexp(1.0, 70)));
}

TEST(CrPow, ExactResultsAndTiesToEven) {
  expectSame(1e22, crpow(10.0, 22.0));
  expectSame(1e-1, crpow(10.0, -1.0));
  expectSame(0.5, crpow(4.0, -0.5));
  expectSame(std::ldexp(1.0, -1074), crpow(2.0, -1074.0));
  expectSame(std::ldexp(1.0, 1023), crpow(2.0, 1023.0));
  // t^2 of a 27-bit odd t above 2^26.5 has 54 bits: an exact tie, rounded
  // to the even neighbour.
  for (std::uint64_t t : {94906267u, 94906269u, 134217727u, 100000001u}) {
    const std::uint64_t sq = t * t;
    const std::uint64_t even = ((sq - 1) / 2) % 2 == 0 ? sq - 1 : sq + 1;
    expectSame(static_cast<double>(even), crpow(static_cast<double>(t), 2.0));
  }
  // t^3 of an 18-bit t, as a cube and as (t^2)^1.5.
  for (std::uint64_t t : {262143u, 200001u, 231111u}) {
    const std::uint64_t cube = t * t * t;
    const int extra = cube >= (std::uint64_t{1} << 54)   ? 2
                      : cube >= (std::uint64_t{1} << 53) ? 1
                                                         : 0;
    const std::uint64_t unit = std::uint64_t{1} << extra;
    std::uint64_t want = cube / unit * unit;
    const std::uint64_t rem = cube - want;
    if (rem * 2 > unit || (rem * 2 == unit && ((want / unit) & 1u)))
      want += unit;
    expectSame(static_cast<double>(want),
               crpow(static_cast<double>(t * t), 1.5));
    expectSame(static_cast<double>(want), crpow(static_cast<double>(t), 3.0));
  }
}

// Where the power is one correctly rounded IEEE operation, the results
// must be the same bits.
TEST(CrPow, AgreesWithSquareRootSquareAndReciprocal) {
  std::mt19937_64 rng(19);
  for (int i = 0; i < 20000; ++i) {
    const double x = randomPositive(rng, -1022, 1023);
    expectSame(std::sqrt(x), crpow(x, 0.5));
    expectSame(1.0 / x, crpow(x, -1.0));
    expectSame(x, crpow(x, 1.0));
    const double y = randomPositive(rng, -500, 500);
    expectSame(y * y, crpow(y, 2.0));
  }
}

TEST(CrPowf, SpecialValuesAndIeeeOperations) {
  EXPECT_EQ(1.0F, crpowf(std::numeric_limits<float>::quiet_NaN(), 0.0F));
  EXPECT_TRUE(std::isnan(crpowf(-2.0F, 0.5F)));
  EXPECT_EQ(kInfF, crpowf(10.0F, 39.0F));
  EXPECT_EQ(-kInfF, crpowf(-10.0F, 39.0F));
  EXPECT_EQ(0.0F, crpowf(10.0F, -46.0F));
  EXPECT_EQ(std::ldexp(1.0F, -149), crpowf(2.0F, -149.0F));
  EXPECT_EQ(10.0F, crpowf(10.0F, 1.0F));
  std::mt19937 rng(19);
  std::uniform_real_distribution<float> u(-30.0F, 30.0F);
  for (int i = 0; i < 20000; ++i) {
    const float x = std::exp2(u(rng)), z = std::exp2(u(rng) / 2.0F);
    EXPECT_EQ(std::sqrt(x), crpowf(x, 0.5F)) << x;
    EXPECT_EQ(1.0F / x, crpowf(x, -1.0F)) << x;
    EXPECT_EQ(z * z, crpowf(z, 2.0F)) << z;
  }
}

// The time factor 10^(1/n) in single precision for every n a deck can
// give: the fixed-point path alone agrees with the full routine.
TEST(CrPowf, TimeFactorAgreesWithPrecisePath) {
  for (int n = 1; n <= 99999; n += 7) {
    const float e = 1.0F / static_cast<float>(n);
    EXPECT_EQ(qmr::crmath::powfPrecise(10.0F, e), crpowf(10.0F, e)) << n;
  }
}

TEST(CrLog10, AgreesWithPrecisePath) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 300; ++i) {
    const double x = randomPositive(rng, -1074, 1023);
    expectSame(qmr::crmath::log10Precise(x), crlog10(x));
    const double y = randomPositive(rng, -4, 4);
    expectSame(qmr::crmath::powPrecise(x > 1e-300 ? x : 2.0, y * 1e-3),
               crpow(x > 1e-300 ? x : 2.0, y * 1e-3));
  }
}

} // namespace
