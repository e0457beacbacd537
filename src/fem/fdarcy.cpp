// Per-step velocity input: when the flow field changes in time, a new block
// of element velocities, thicknesses, leakage and recharge rates is read from
// the velocity file before every time step of a transport run.
#include "fem/fem.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "run/run.hpp"

namespace qmr {

namespace {} // namespace

void fdarcy(State &s) {
  if (s.iodarc != 2) return;
  for (int ie = 1; ie <= s.ne; ++ie) {
    int iei = 0;
    if (readChecked(s.io.u10, kVelocityRecord,
                    {ref(iei), ref(s.edarcy), ref(s.ethick), ref(s.eqleak),
                     ref(s.eqrech)}) != 0)
      error10(s);
    // A record out of step is only reported here; its values are taken for
    // the element whose turn it is.
    if (iei != ie) {
      writeFree(s.io.lst(), {"PROBLEMS IN READING DARCY VELOCITIES FILE"});
      tdelay(3);
    }
    if (s.eqleak < 0.0) s.eqleak = 0.0;
    if (s.eqrech < 0.0) s.eqrech = 0.0;
    s.darcy(ie) = s.edarcy;
    s.thick(ie) = s.ethick;
    s.qleak(ie) = s.eqleak;
    s.qrech(ie) = s.eqrech;
  }
}

} // namespace qmr
