// One element record of the velocity file, as the transport run reads it
// before the first step or before every step.
#pragma once

#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// Reads the next record into the work values edarcy, ethick, eqleak and
// eqrech; a missing or malformed record ends the run with the velocity-file
// failure. Returns the element number the record carries.
inline int readVelocity(State &s) {
  int iei = 0;
  if (readChecked(s.io.u10, kVelocityRecord,
                  {ref(iei), ref(s.edarcy), ref(s.ethick), ref(s.eqleak),
                   ref(s.eqrech)}) != 0)
    error10(s);
  return iei;
}

// Stores the work values for element ie; negative leakage and recharge
// rates count as none.
inline void takeVelocity(State &s, int ie) {
  if (s.eqleak < 0.0) s.eqleak = 0.0;
  if (s.eqrech < 0.0) s.eqrech = 0.0;
  s.darcy(ie) = s.edarcy;
  s.thick(ie) = s.ethick;
  s.qleak(ie) = s.eqleak;
  s.qrech(ie) = s.eqrech;
}

} // namespace qmr
