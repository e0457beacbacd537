// Element velocities, thicknesses, leakage and recharge of a transport run:
// one block of the velocity file for the whole run, or one default velocity
// and thickness from the main input.
#include <string>

#include "fem/velocity.hpp"
#include "input/input.hpp"
#include "input/spread.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kDefEcho("(5X,'DEFAULT DARCY VELOCITY    = ',E12.7,/,5X,'DEFAULT AQUIFER THICKNESS = ',E12.7,/)");
// clang-format on

// One block of ne records, record k for element k.
void fromFile(Files &io, const Mesh &mesh, TransportProperties<double> &tp) {
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const VelocityRecord r = readVelocity(io);
    if (r.iei != ie)
      fail(io,
           "velocity file " + io.velocity.name() + " record " +
               std::to_string(io.velocity.recno()) + ": element number " +
               std::to_string(r.iei) + " where " + std::to_string(ie) +
               " was expected",
           kVelocityMismatch);
    takeVelocity(tp, ie, r);
  }
  checkBlockEnd(io, mesh.ne);
}

// One default velocity (per unit width) and thickness for every element.
void defaults(Files &io, const ParameterValues &values, const Mesh &mesh,
              const FlowProperties<double> &fp,
              TransportProperties<double> &tp) {
  double edarcy = 0.0;
  double ethick = 0.0;
  io.deck.setSection("default velocity record");
  readMain(io, kEightReals, {ref(edarcy), ref(ethick)});
  if (const auto v = values.find(ParamKind::DefaultVelocity, 0, kTransportRun))
    edarcy = *v;
  if (const auto v = values.find(ParamKind::DefaultThickness, 0, kTransportRun))
    ethick = *v;
  write(io.lst(), kDefEcho, {edarcy, ethick});
  tp.edarcy = edarcy;
  tp.ethick = ethick;
  defaultVelocities(mesh, edarcy, ethick, fp, tp);
}

} // namespace

void rdarcy(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, const FlowProperties<double> &fprop,
            TransportProperties<double> &tprop) {
  if (codes.iodarc <= 0) {
    defaults(io, values, mesh, fprop, tprop);
  } else if (codes.iodarc == 1) {
    io.velocity.setSection("velocity block");
    fromFile(io, mesh, tprop);
  } else if (codes.iodarc >= 3) {
    // Nothing would ever set the velocities and thicknesses: every element
    // matrix would be zero and no step could be solved.
    badInput(io, "code for reading/writing Darcy velocities " +
                     std::to_string(codes.iodarc) +
                     ": a transport run reads its velocities with code 1 "
                     "(one block) or 2 (one block per step), or takes "
                     "default values with 0");
  }
  // Code 2: a new block is read before every step.
}

} // namespace qmr
