// One time step of a flow run: the non-linear iteration, then the results of
// the step in the order the files receive them: velocity-file records, nodal
// heads, fluxes at the prescribed-head nodes, the flux-file row, the mass
// balance, the step end and the profiles of the step.
#include "drivers/drivers.hpp"
#include "drivers/flowbalance.hpp"
#include "drivers/step.hpp"
#include "drivers/velrecord.hpp"

namespace qmr {

void drivef(State &s, StepCore *core) {
  flowIterate(s, core);

  const int its = s.clock.its;
  if (velocityBlockDue(s.codes, s.clock))
    velocityBlock(s.io, s.codes, s.mesh, s.clock, s.fprop, s.lev);
  const bool print = printStep(s.opt, s.codes, its);
  if (print) printHeads(s.io, s.mesh, s.lev);
  const double qdsum = fluxTable(s.io, s.clock, s.bc, s.res);
  fluxRow(s.io, s.codes, s.clock, s.bc.nbt, s.res);
  s.res.fbal = flowBalance<double>(s.mesh, s.codes, s.clock, s.fprop, s.lev,
                                   s.res.pfxsum, qdsum);
  if (print) printFlowBalance(s.io, s.res.fbal);

  for (int ip = 1; ip <= s.mesh.np; ++ip) s.lev.hdold(ip) = s.lev.hdnew(ip);
  stepDone(s.io, s.clock);

  // Every profile asked for at this step.
  while (profileDue(s.obs, its)) storeProfile(s.obs, s.mesh, s.lev);
}

} // namespace qmr
