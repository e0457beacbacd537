// The results of a flow step in the listing and the flux file: the nodal
// heads, and the fluxes at the prescribed-head nodes (the reactions of the
// last solution) with their rates and accumulated amounts.
#include <vector>

#include "drivers/step.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "output/logpos.hpp"

namespace qmr {

namespace {
const Layout kNodeHead(
    "(' NODE     E-COORD   HYDRAULIC HEAD',/,' ----     -------   --------------')");
const Layout kFluxHead(
    "(/,'  RESULTING FLUX AT PRESCRIBED HEAD NODES',/,'  ***************************************',/,/,'  NODE   PRESCRIBED HEAD    RESULTING FLUX','         FLUX RATE       ACCUMULATED',/,'                            OVER TIME STEP','      OVER TIME STEP        FLUX',/,'  ----   ---------------    --------------','      --------------     -----------',/)");
const Layout kFlux("(I6,4E18.5)");
} // namespace

void printHeads(Files &io, const Mesh &mesh, const Levels<double> &lev) {
  write(io.lst(), kSolutionHead, {});
  write(io.lst(), kNodeHead, {});
  for (int ip = 1; ip <= mesh.np; ++ip)
    write(io.lst(), kNodeLine, {ip, mesh.ecoord(ip), lev.hdnew(ip)});
}

double fluxTable(Files &io, const Clock &clock, const Prescribed<double> &bc,
                 Results &res) {
  write(io.lst(), kFluxHead, {});
  double qdsum = 0.0;
  for (int ibt = 1; ibt <= bc.nbt; ++ibt) {
    const int ind00 = bc.idv(ibt);
    const double hvalu = bc.valb(ibt);
    const double qvalu = bc.qvalb(ibt);
    res.accum(ibt) = res.accum(ibt) + qvalu;
    res.accu2(ibt, clock.its) = res.accum(ibt);
    const double qrate = qvalu / clock.delta;
    res.qratb(ibt) = qrate;
    qdsum = qdsum + qvalu;
    write(io.lst(), kFlux, {ind00, hvalu, qvalu, qrate, res.accum(ibt)});
  }
  return qdsum;
}

void fluxRow(Files &io, const Codes &codes, const Clock &clock, int nbt,
             const Results &res) {
  if (codes.iflux == 0) return;
  const double timlog = logpos(clock.ttime);
  std::vector<Val> row{clock.its, clock.ttime, timlog};
  for (int ibt = 1; ibt <= nbt; ++ibt) row.emplace_back(res.qratb(ibt));
  write(io.flux, kRow, row);
}

} // namespace qmr
