// Prescribed nodal fluxes of a flow run: a rate into each listed node
// (positive = inflow), applied at every step.
#include "input/check.hpp"
#include "input/input.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kHead("(/,'PRESCRIBED NODAL FLUXES',/,'***********************',/,/,'  BOUNDARY      NODE   D.O.F. GLOBAL DOF PRESCRIBED FLUX',/,'  --------      ----   ------ ---------- ---------------',/,/)");
// clang-format on

} // namespace

void pbflow(Files &io, const ParameterValues &values, const Mesh &mesh,
            Prescribed<double> &bc) {
  if (bc.ndf == 0) return;
  write(io.lst(), kHead, {});
  bc.nsb = bc.ndf;
  for (int isb = 1; isb <= bc.nsb; ++isb) {
    int inod = 0, idof = 0;
    double value = 0.0;
    io.deck.setSection("prescribed-flux record " + std::to_string(isb));
    readMain(io, kNodeValueRecord, {ref(inod), ref(idof), ref(value)});
    if (const auto v = values.find(ParamKind::FluxRate, isb, kFlowRun))
      value = *v;
    const int id = inod;
    bc.isbv(isb) = id;
    bc.bslod(isb) = value;
    write(io.lst(), kNodeValueEcho, {isb, inod, idof, id, bc.bslod(isb)});
    checkNode(io, mesh, io.deck.recno(), "prescribed flux node", inod);
  }
}

} // namespace qmr
