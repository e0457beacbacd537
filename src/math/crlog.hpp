// The natural logarithm as a double-double, shared by the decimal logarithm
// and the power.
#pragma once

#include "math/ddouble.hpp"

namespace qmr::crmath {

// ln x for positive finite x (normal or subnormal), relative error below
// about 2^-102.
DD lnDD(double x);
// The same with relative error below about 2^-70, several times faster.
DD lnQuick(double x);

} // namespace qmr::crmath
