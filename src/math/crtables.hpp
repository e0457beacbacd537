// Tables and constants of the correctly rounded logarithm and power
// (src/math/crtables.cpp, written by tools/crmath_tables.py).
#pragma once

#include <cstdint>

namespace qmr::crmath {

extern const double kLogR[128];
extern const double kLogL[128][2];
extern const double kLogQ[14][2];
extern const double kExpQ[10][2];
extern const double kExpT[64][2];
extern const double kLn2Hi, kLn2Mid, kLn2Lo;
extern const double kInvLn10Hi, kInvLn10Lo;
extern const double kLn2By64Hi, kLn2By64Mid, kLn2By64Lo, k64ByLn2;
extern const std::uint64_t kFixLn2[6];
extern const std::uint64_t kFixInvLn10[6];

} // namespace qmr::crmath
