// One time step of a flow run: the non-linear iteration, then the results of
// the step in the order the files receive them: velocity-file records, nodal
// heads, fluxes at the prescribed-head nodes, the flux-file row, the mass
// balance, the step end and the profiles of the step.
#include "drivers/drivers.hpp"
#include "drivers/step.hpp"

namespace qmr {

void drivef(State &s) {
  flowIterate(s);

  if (s.iodarc > 0 && (s.iodarc == 2 || s.its == s.nts)) velocityBlock(s);
  printHeads(s);
  const double qdsum = fluxTable(s);
  fluxRow(s);
  s.fbal = flowBalance(s, qdsum);
  if (printStep(s)) printFlowBalance(s, s.fbal);

  for (int ip = 1; ip <= s.np; ++ip) s.hdold(ip) = s.hdnew(ip);
  stepDone(s);

  // Every profile asked for at this step.
  while (profileDue(s)) storeProfile(s);
}

} // namespace qmr
