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
  s.io.u10.setSection("velocity block of step " + std::to_string(s.its));
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int iei = readVelocity(s);
    // A record out of step is only reported here; its values are taken for
    // the element whose turn it is.
    if (iei != ie) {
      writeFree(s.io.lst(), {kVelocityMismatch});
      tdelay(3);
      if (s.io.u10.tellOnce())
        warn(s.io.u10, s.io.u10.recno(), 1, 5,
             "element number " + std::to_string(iei) + " where " +
                 std::to_string(ie) +
                 " was expected: the file does not match this mesh, and "
                 "the record's values are taken for element " +
                 std::to_string(ie) + " (told once per run)");
    }
    takeVelocity(s, ie);
  }
  if (s.its == 1) checkBlockEnd(s);
}

} // namespace qmr
