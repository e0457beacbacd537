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
  if (s.ndf == 0) return;
  write(s.io.lst(), kHead, {});
  s.nsb = s.ndf;
  for (int isb = 1; isb <= s.nsb; ++isb) {
    int inod = 0, idof = 0;
    double value = 0.0;
    s.io.u5.setSection("prescribed-flux record " + std::to_string(isb));
    readMain(s, kNodeValueRecord, {ref(inod), ref(idof), ref(value)});
    const int id = inod;
    s.isbv(isb) = id;
    s.bslod(isb) = value;
    write(s.io.lst(), kNodeValueEcho, {isb, inod, idof, id, s.bslod(isb)});
    checkNode(s, s.io.u5.recno(), "prescribed flux node", inod);
  }
}

} // namespace qmr
