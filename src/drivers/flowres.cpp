// The results of a flow step in the listing and the flux file: the nodal
// heads, and the fluxes at the prescribed-head nodes (the reactions of the
// last solution) with their rates and accumulated amounts.
#include <vector>

#include "drivers/step.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "output/logpos.hpp"

namespace qmr {

namespace {
const Layout kNodeHead(
    "(' NODE     E-COORD   HYDRAULIC HEAD',/,' ----     -------   --------------')");
const Layout kFluxHead(
    "(/,'  RESULTING FLUX AT PRESCRIBED HEAD NODES',/,'  ***************************************',/,/,'  NODE   PRESCRIBED HEAD    RESULTING FLUX','         FLUX RATE       ACCUMULATED',/,'                            OVER TIME STEP','      OVER TIME STEP        FLUX',/,'  ----   ---------------    --------------','      --------------     -----------',/)");
const Layout kFlux("(I6,4E18.5)");
} // namespace

void printHeads(State &s) {
  if (!printStep(s)) return;
  write(s.io.lst(), kSolutionHead, {});
  write(s.io.lst(), kNodeHead, {});
  for (int ip = 1; ip <= s.np; ++ip)
    write(s.io.lst(), kNodeLine, {ip, s.ecoord(ip), s.hdnew(ip)});
}

double fluxTable(State &s) {
  write(s.io.lst(), kFluxHead, {});
  double qdsum = 0.0;
  for (int ibt = 1; ibt <= s.nbt; ++ibt) {
    const int ind00 = s.idv(ibt);
    const double hvalu = s.valb(ibt);
    const double qvalu = s.qvalb(ibt);
    s.accum(ibt) = s.accum(ibt) + qvalu;
    s.accu2(ibt, s.its) = s.accum(ibt);
    const double qrate = qvalu / s.delta;
    s.qratb(ibt) = qrate;
    qdsum = qdsum + qvalu;
    write(s.io.lst(), kFlux, {ind00, hvalu, qvalu, qrate, s.accum(ibt)});
  }
  return qdsum;
}

void fluxRow(State &s) {
  if (s.iflux == 0) return;
  const double timlog = logpos(s.ttime);
  std::vector<Val> row{s.its, s.ttime, timlog};
  for (int ibt = 1; ibt <= s.nbt; ++ibt) row.emplace_back(s.qratb(ibt));
  write(s.io.u4, kRow, row);
}

} // namespace qmr
