// The number type of the finite-element core. The core computes with any
// type that has the arithmetic of double (+, -, *, / with itself and with
// double, unary minus, construction from double) and two free functions
// found by argument-dependent lookup: value(x), the double the number
// stands for, and fabs(x). Every branch of the core (the convergence scan,
// the dry-element clamp, the leakage cap, the pivot checks) is decided on
// value(x) alone, so a type that also carries derivatives follows the branch
// the double program takes.
#pragma once

#include <cmath>

namespace qmr {

inline double value(double x) { return x; }
using std::fabs;

} // namespace qmr
