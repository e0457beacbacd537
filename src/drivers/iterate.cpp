// The convergence scan and the relaxation of the iteration that the flow and
// the transport step share.
#include <cmath>

#include "drivers/step.hpp"

namespace qmr {

Scan scanChange(const State &s) {
  Scan scan;
  for (int ip = 1; ip <= s.np; ++ip) {
    const double vaslod = s.aslod(ip);
    if (vaslod > scan.vupper) scan.vupper = vaslod;
    if (vaslod < scan.vlower) scan.vlower = vaslod;
    const double differ = std::fabs(vaslod - s.hdnew(ip));
    if (differ > scan.amaxdf) {
      scan.amaxdf = differ;
      scan.nmaxnd = ip;
    }
    if (differ >= s.toler) scan.changed = true;
  }
  return scan;
}

void relaxAndClear(State &s, double drelax) {
  for (int ip = 1; ip <= s.np; ++ip) {
    s.hdnew(ip) = (s.aslod(ip) - s.hdnew(ip)) * drelax + s.aslod(ip);
    s.aslod(ip) = 0.0;
    for (int j = 1; j <= s.ifullb; ++j) s.astif(ip, j) = 0.0;
  }
}

} // namespace qmr
