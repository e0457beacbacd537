// Prescribed nodal fluxes of a transport run: a flux of solute into each
// listed node and a fluid flux that carries the node's own concentration.
#include "input/check.hpp"
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kHead("(/,'PRESCRIBED NODAL FLUXES',/,'***********************',/,/,'  BOUNDARY      NODE   D.O.F. PRESCRIBED FLUX  PRESCRIBED FLUX',/,'                               CONCENTRATION        FLUID   ',/,'  --------      ----   ------ ---------------  ---------------',/,/)");
const Layout kRecord("(2I5,2F10.0)");
const Layout kEcho("(3I10,2E17.7)");
// clang-format on

} // namespace

void pbtran(State &s) {
  if (s.bc.ndf == 0) return;
  write(s.io.lst(), kHead, {});
  s.bc.nsb = s.bc.ndf;
  for (int isb = 1; isb <= s.bc.nsb; ++isb) {
    int inod = 0, idof = 0;
    double valuqc = 0.0, valuqw = 0.0;
    s.io.deck.setSection("prescribed-flux record " + std::to_string(isb));
    readMain(s.io, kRecord, {ref(inod), ref(idof), ref(valuqc), ref(valuqw)});
    if (valuqc < 0.0 || valuqw < 0.0) {
      // A warning only: nothing is read, the run goes on with the values.
      writeFree(s.io.lst(),
                {"You have prescribed a discharge of concentration !!!!"});
      writeFree(s.io.lst(), {"          ARE YOU SURE THIS IS CORRECT ???"});
      writeFree(s.io.lst(), {"            <PRESS ENTER TO CONTINUE>"});
      tdelay(3);
    }
    const int id = inod;
    s.bc.isbv(isb) = id;
    s.bc.bslod(isb) = valuqc;
    s.bc.bslqw(isb) = valuqw;
    write(s.io.lst(), kEcho,
          {isb, inod, idof, s.bc.bslod(isb), s.bc.bslqw(isb)});
    checkNode(s, s.io.deck.recno(), "prescribed flux node", inod);
  }
}

} // namespace qmr
