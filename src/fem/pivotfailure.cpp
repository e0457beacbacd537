// A pivot that is exactly zero or not finite ends the run: nothing sensible
// can follow from it. A zero pivot comes from a degenerate element (zero
// length or zero properties) next to a free node.
#include <string>

#include "fem/fem.hpp"
#include "io/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {
const Layout
    kZeroPivot("('ZERO PIVOT IN EQUATION ',I5,' - SYSTEM CANNOT BE SOLVED')");
const Layout
    kBadPivot("('INVALID PIVOT IN EQUATION ',I5,' - SYSTEM CANNOT BE SOLVED')");
} // namespace

void pivotFailure(Files &io, const PivotFault &fault) {
  const int eq = fault.eq;
  const std::string at = "pivot at equation " + std::to_string(eq);
  if (fault.pivot == 0.0)
    fail(io,
         "zero " + at +
             ": an element next to a free node has zero length or zero "
             "properties",
         format(kZeroPivot, {eq}));
  fail(io,
       "non-finite " + at +
           ": an element next to it has zero length or values that are "
           "not finite",
       format(kBadPivot, {eq}));
}

} // namespace qmr
