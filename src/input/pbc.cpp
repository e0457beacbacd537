// Prescribed nodal values: the nodes held at a fixed head (flow) or
// concentration (transport) for the whole run.
#include "input/check.hpp"
#include "input/input.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kHead("(/,'PRESCRIBED NODAL VALUES OF HYDRAULIC HEAD',/,'*****************************************',/,/,'  BOUNDARY      NODE   D.O.F. GLOBAL DOF PRESCRIBED VALUE',/,'  --------      ----   ------ ---------- ----------------',/,/)");
// clang-format on

} // namespace

void pbc(Files &io, const ParameterValues &values, const Mesh &mesh,
         Prescribed<double> &bc, Results &res) {
  if (bc.nbt == 0) return;
  write(io.lst(), kHead, {});
  for (int ib = 1; ib <= bc.nbt; ++ib) {
    int inod = 0, idof = 0;
    double value = 0.0;
    io.deck.setSection("prescribed-value record " + std::to_string(ib));
    readMain(io, kNodeValueRecord, {ref(inod), ref(idof), ref(value)});
    idof = 1; // the column is accepted and ignored
    // The path is the same in a flow and a transport deck.
    if (const auto v = values.find(ParamKind::PrescribedValue, ib, kFlowRun))
      value = *v;
    res.accum(ib) = 0.0;
    const int id = inod;
    bc.idv(ib) = id;
    bc.valb(ib) = value;
    write(io.lst(), kNodeValueEcho, {ib, inod, idof, id, bc.valb(ib)});
    checkNode(io, mesh, io.deck.recno(), "prescribed value node", inod);
  }
  plausiblePrescribedNodes(io, bc, io.deck.recno());
}

} // namespace qmr
