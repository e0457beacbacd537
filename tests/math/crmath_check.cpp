// Reads operations with arguments as bit patterns in hex from standard input
// and writes the results' bit patterns, for the comparison with a
// high-precision reference (tests/math/test_crmath_reference.py).
//   l X   log10        L X   log10, precise path alone
//   p X Y pow          P X Y pow, precise path alone
//   f X Y powf         F X Y powf, precise path alone (X, Y 32-bit patterns)
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "math/crmath.hpp"

int main() {
  char op = 0;
  std::uint64_t a = 0, b = 0;
  char line[128];
  while (std::fgets(line, sizeof line, stdin)) {
    const int n = std::sscanf(line, " %c %" SCNx64 " %" SCNx64, &op, &a, &b);
    if (n < 2) continue;
    const double x = std::bit_cast<double>(a), y = std::bit_cast<double>(b);
    const float xf = std::bit_cast<float>(static_cast<std::uint32_t>(a));
    const float yf = std::bit_cast<float>(static_cast<std::uint32_t>(b));
    std::uint64_t r = 0;
    switch (op) {
    case 'l':
      r = std::bit_cast<std::uint64_t>(qmr::crlog10(x));
      break;
    case 'L':
      r = std::bit_cast<std::uint64_t>(qmr::crmath::log10Precise(x));
      break;
    case 'p':
      r = std::bit_cast<std::uint64_t>(qmr::crpow(x, y));
      break;
    case 'P':
      r = std::bit_cast<std::uint64_t>(qmr::crmath::powPrecise(x, y));
      break;
    case 'f':
      r = std::bit_cast<std::uint32_t>(qmr::crpowf(xf, yf));
      break;
    case 'F':
      r = std::bit_cast<std::uint32_t>(qmr::crmath::powfPrecise(xf, yf));
      break;
    default:
      continue;
    }
    std::printf("%" PRIx64 "\n", r);
  }
  return 0;
}
