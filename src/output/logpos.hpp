// The logarithm column of the tables (flux rows, flux history, observation
// rows, profile table): the decimal logarithm of a time or a coordinate, and
// 0.0 for a value of zero or less, which has none.
#pragma once

#include "math/crmath.hpp"

namespace qmr {

inline double logpos(double x) { return x > 0.0 ? crlog10(x) : 0.0; }

} // namespace qmr
