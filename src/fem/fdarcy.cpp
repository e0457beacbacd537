// Per-step velocity input: when the flow field changes in time, a new block
// of element velocities, thicknesses, leakage and recharge rates is read from
// the velocity file before every time step of a transport run.
#include "fem/fem.hpp"
#include "fem/velocity.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {

void fdarcy(Files &io, const Codes &codes, const Mesh &mesh, int its,
            TransportProperties<double> &tprop) {
  if (codes.iodarc != 2) return;
  io.velocity.setSection("velocity block of step " + std::to_string(its));
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const VelocityRecord r = readVelocity(io);
    // A record out of step is only reported here; its values are taken for
    // the element whose turn it is.
    if (r.iei != ie) {
      writeFree(io.lst(), {kVelocityMismatch});
      tdelay(3);
      if (io.velocity.tellOnce())
        warn(io.velocity, io.velocity.recno(), 1, 5,
             "element number " + std::to_string(r.iei) + " where " +
                 std::to_string(ie) +
                 " was expected: the file does not match this mesh, and "
                 "the record's values are taken for element " +
                 std::to_string(ie) + " (told once per run)");
    }
    takeVelocity(tprop, ie, r);
  }
  if (its == 1) checkBlockEnd(io, mesh.ne);
}

} // namespace qmr
