// Per-step velocity input: when the flow field changes in time, a new block
// of element velocities, thicknesses, leakage and recharge rates is read from
// the velocity file before every time step of a transport run.
#include "fem/fem.hpp"
#include "fem/velocity.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {

void fdarcy(State &s) {
  if (s.iodarc != 2) return;
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int iei = readVelocity(s);
    // A record out of step is only reported here; its values are taken for
    // the element whose turn it is.
    if (iei != ie) {
      writeFree(s.io.lst(), {kVelocityMismatch});
      tdelay(3);
    }
    takeVelocity(s, ie);
  }
}

} // namespace qmr
