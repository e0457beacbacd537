// Prescribed nodal fluxes of a transport run: a flux of solute into each
// listed node and a fluid flux that carries the node's own concentration.
#include "input/check.hpp"
#include "input/input.hpp"
#include "io/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kHead("(/,'PRESCRIBED NODAL FLUXES',/,'***********************',/,/,'  BOUNDARY      NODE   D.O.F. PRESCRIBED FLUX  PRESCRIBED FLUX',/,'                               CONCENTRATION        FLUID   ',/,'  --------      ----   ------ ---------------  ---------------',/,/)");
const Layout kRecord("(2I5,2F10.0)");
const Layout kEcho("(3I10,2E17.7)");
// clang-format on

} // namespace

void pbtran(Files &io, const ParameterValues &values, const Mesh &mesh,
            Prescribed<double> &bc) {
  if (bc.ndf == 0) return;
  write(io.lst(), kHead, {});
  bc.nsb = bc.ndf;
  for (int isb = 1; isb <= bc.nsb; ++isb) {
    int inod = 0, idof = 0;
    double valuqc = 0.0, valuqw = 0.0;
    io.deck.setSection("prescribed-flux record " + std::to_string(isb));
    readMain(io, kRecord, {ref(inod), ref(idof), ref(valuqc), ref(valuqw)});
    if (const auto v = values.find(ParamKind::SoluteFlux, isb, kTransportRun))
      valuqc = *v;
    if (const auto v = values.find(ParamKind::FluidFlux, isb, kTransportRun))
      valuqw = *v;
    if (valuqc < 0.0 || valuqw < 0.0) {
      // A warning only: nothing is read, the run goes on with the values.
      writeFree(io.lst(),
                {"You have prescribed a discharge of concentration !!!!"});
      writeFree(io.lst(), {"          ARE YOU SURE THIS IS CORRECT ???"});
      writeFree(io.lst(), {"            <PRESS ENTER TO CONTINUE>"});
      tdelay(3);
    }
    const int id = inod;
    bc.isbv(isb) = id;
    bc.bslod(isb) = valuqc;
    bc.bslqw(isb) = valuqw;
    write(io.lst(), kEcho, {isb, inod, idof, bc.bslod(isb), bc.bslqw(isb)});
    checkNode(io, mesh, io.deck.recno(), "prescribed flux node", inod);
  }
}

} // namespace qmr
