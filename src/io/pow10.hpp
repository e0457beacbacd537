// Powers of ten for scaling a double to the digits of a field: 10^k as a
// 64-bit mantissa c and a binary exponent b with
//
//   c <= 10^k / 2^b < c + 2,   2^63 <= c < 2^64,
//
// for every k the fields need. The table is computed at compile time from
// 1 by repeated exact-to-128-bit multiplication and division by ten, each
// step truncated, so every entry is a lower bound whose error stays far
// below one unit of the 64-bit mantissa.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace qmr::field {

__extension__ typedef unsigned __int128 u128;

struct Pow10 {
  std::uint64_t c;
  int b;
};

inline constexpr int kMinPow10 = -345;
inline constexpr int kMaxPow10 = 345;

namespace detail {

constexpr std::array<Pow10, kMaxPow10 - kMinPow10 + 1> makePow10() {
  std::array<Pow10, kMaxPow10 - kMinPow10 + 1> t{};
  // Upward: M * 2^B = 10^k with M normalised to 2^127 <= M < 2^128.
  u128 m = u128{1} << 127;
  int b = -127;
  t[-kMinPow10] = {static_cast<std::uint64_t>(m >> 64), b + 64};
  for (int k = 1; k <= kMaxPow10; ++k) {
    const u128 lo = static_cast<u128>(static_cast<std::uint64_t>(m)) * 10;
    const u128 hi = (m >> 64) * 10 + (lo >> 64); // up to 68 bits
    const int n = std::bit_width(static_cast<std::uint64_t>(hi >> 64));
    m = (hi << (64 - n)) | (static_cast<std::uint64_t>(lo) >> n);
    b += n;
    t[k - kMinPow10] = {static_cast<std::uint64_t>(m >> 64), b + 64};
  }
  // Downward: divide M * 16 by ten, limb by limb.
  m = u128{1} << 127;
  b = -127;
  for (int k = -1; k >= kMinPow10; --k) {
    const std::uint64_t h = static_cast<std::uint64_t>(m >> 64);
    const std::uint64_t l = static_cast<std::uint64_t>(m);
    const std::uint64_t top = h >> 60;
    const std::uint64_t mid = (h << 4) | (l >> 60);
    const std::uint64_t low = l << 4;
    const std::uint64_t qTop = top / 10;
    u128 cur = (static_cast<u128>(top % 10) << 64) | mid;
    const std::uint64_t qMid = static_cast<std::uint64_t>(cur / 10);
    cur = (static_cast<u128>(static_cast<std::uint64_t>(cur % 10)) << 64) | low;
    const std::uint64_t qLow = static_cast<std::uint64_t>(cur / 10);
    b -= 4;
    if (qTop != 0) { // 129 bits: drop the lowest
      m = (static_cast<u128>(qTop) << 127) | (static_cast<u128>(qMid) << 63) |
          (qLow >> 1);
      b += 1;
    } else {
      m = (static_cast<u128>(qMid) << 64) | qLow;
    }
    t[k - kMinPow10] = {static_cast<std::uint64_t>(m >> 64), b + 64};
  }
  return t;
}

} // namespace detail

inline constexpr auto kPow10 = detail::makePow10();

inline const Pow10 &pow10(int k) { return kPow10[k - kMinPow10]; }

// 10^n as an integer, n = 0..19.
inline constexpr std::uint64_t kTenTo[20] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};

} // namespace qmr::field
