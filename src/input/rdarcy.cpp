// Element velocities, thicknesses, leakage and recharge of a transport run:
// one block of the velocity file for the whole run, or one default velocity
// and thickness from the main input.
#include <string>

#include "fem/velocity.hpp"
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kDefEcho("(5X,'DEFAULT DARCY VELOCITY    = ',E12.7,/,5X,'DEFAULT AQUIFER THICKNESS = ',E12.7,/)");
// clang-format on

// One block of ne records, record k for element k.
void fromFile(State &s) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int iei = readVelocity(s);
    if (iei != ie)
      fail(s,
           "velocity file " + s.io.u10.name() + " record " +
               std::to_string(s.io.u10.recno()) + ": element number " +
               std::to_string(iei) + " where " + std::to_string(ie) +
               " was expected",
           kVelocityMismatch);
    takeVelocity(s, ie);
  }
  checkBlockEnd(s);
}

// One default velocity (per unit width) and thickness for every element.
void defaults(State &s) {
  s.io.u5.setSection("default velocity record");
  readMain(s, kEightReals, {ref(s.edarcy), ref(s.ethick)});
  write(s.io.lst(), kDefEcho, {s.edarcy, s.ethick});
  for (int ie = 1; ie <= s.ne; ++ie) {
    s.darcy(ie) = s.edarcy * s.ewide(ie);
    s.thick(ie) = s.ethick;
    s.qleak(ie) = 0.0;
    s.qrech(ie) = 0.0;
  }
}

} // namespace

void rdarcy(State &s) {
  if (s.iodarc <= 0) {
    defaults(s);
  } else if (s.iodarc == 1) {
    s.io.u10.setSection("velocity block");
    fromFile(s);
  } else if (s.iodarc >= 3) {
    // Nothing would ever set the velocities and thicknesses: every element
    // matrix would be zero and no step could be solved.
    badInput(s, "code for reading/writing Darcy velocities " +
                    std::to_string(s.iodarc) +
                    ": a transport run reads its velocities with code 1 "
                    "(one block) or 2 (one block per step), or takes "
                    "default values with 0");
  }
  // Code 2: a new block is read before every step.
}

} // namespace qmr
