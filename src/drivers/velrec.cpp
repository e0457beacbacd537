// The velocity-file records of a flow step: per element the Darcy velocity,
// the thickness, the leakage rate and the recharge, from the time-weighted
// heads of the step.
#include "drivers/step.hpp"
#include "drivers/velrecord.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"

namespace qmr {

void velocityBlock(Files &io, const Codes &codes, const Mesh &mesh,
                   const Clock &clock, const FlowProperties<double> &p,
                   const Levels<double> &lev) {
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const VelocityValues<double> v =
        velocityRecord(codes, mesh, clock, p, lev, ie);
    write(io.velocity, kVelocityRecord,
          {ie, v.edarcy, v.ethick, v.eqleak, v.eqrech});
  }
}

} // namespace qmr
