// Prescribed nodal fluxes of a flow run: a rate into each listed node
// (positive = inflow), applied at every step.
#include "input/check.hpp"
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kHead("(/,'PRESCRIBED NODAL FLUXES',/,'***********************',/,/,'  BOUNDARY      NODE   D.O.F. GLOBAL DOF PRESCRIBED FLUX',/,'  --------      ----   ------ ---------- ---------------',/,/)");
// clang-format on

} // namespace

void pbflow(State &s) {
  if (s.bc.ndf == 0) return;
  write(s.io.lst(), kHead, {});
  s.bc.nsb = s.bc.ndf;
  for (int isb = 1; isb <= s.bc.nsb; ++isb) {
    int inod = 0, idof = 0;
    double value = 0.0;
    s.io.deck.setSection("prescribed-flux record " + std::to_string(isb));
    readMain(s.io, kNodeValueRecord, {ref(inod), ref(idof), ref(value)});
    const int id = inod;
    s.bc.isbv(isb) = id;
    s.bc.bslod(isb) = value;
    write(s.io.lst(), kNodeValueEcho, {isb, inod, idof, id, s.bc.bslod(isb)});
    checkNode(s, s.io.deck.recno(), "prescribed flux node", inod);
  }
}

} // namespace qmr
