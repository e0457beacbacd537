// End-of-run output: the profile table of the graphic file, the flux
// history of the flux file, the restart file and the completion message.
#include <cmath>
#include <vector>

#include "io/layout.hpp"
#include "io/records.hpp"
#include "output/logpos.hpp"
#include "output/output.hpp"

namespace qmr {

namespace {
const Layout kProfHead(
    "(/,/,'    1.NODE  2.DISTANCE   3.LOGDIST',40('  PROF.(',I3,')'),/,/)");
const Layout kEnd("(1X)");
const Layout kFluxHead(
    "(/,/,'    1.STEP  2.TIMVALUE   3.LOGTIME',40('  PROF.(',I3,')'),/,/)");
const Layout kDone("(/,' QMR - Quenmoor Model - SUCCESSFUL TERMINATION')");
} // namespace

void outobs(State &s) {
  // Profile table: one row per node, one column per profile.
  std::vector<Val> head;
  for (int k = 1; k <= s.obs.ntprof; ++k) head.emplace_back(s.obs.ltprof(k));
  write(s.io.graphic, kProfHead, head);
  write(s.io.graphic, kBlankLine, {});
  for (int ip = 1; ip <= s.mesh.np; ++ip) {
    const double rxcord = s.mesh.ecoord(ip);
    const double crdlog = logpos(rxcord);
    for (int itprof = 1; itprof <= s.obs.ntprof; ++itprof) {
      double tlprof = s.obs.tmprof(itprof, ip);
      if (std::fabs(tlprof) < static_cast<double>(1.0E-15f)) tlprof = 0.0;
      s.obs.tprof(itprof) = static_cast<float>(tlprof);
    }
    std::vector<Val> row{ip, rxcord, crdlog};
    for (int k = 1; k <= s.obs.ntprof; ++k) row.emplace_back(s.obs.tprof(k));
    write(s.io.graphic, kRow, row);
  }
  write(s.io.graphic, kEnd, {});

  // Flux history: the flux accumulated at each prescribed-value node up to
  // the end of every step.
  if (s.codes.iflux != 0) {
    std::vector<Val> nodes;
    for (int ibt = 1; ibt <= s.bc.nbt; ++ibt) nodes.emplace_back(s.bc.idv(ibt));
    write(s.io.flux, kFluxHead, nodes);
    write(s.io.flux, kBlankLine, {});
    for (int its = 1; its <= s.clock.nts; ++its) {
      const double ttime = s.clock.timvec(its);
      const double timlog = logpos(ttime);
      std::vector<Val> row{its, ttime, timlog};
      for (int ibt = 1; ibt <= s.bc.nbt; ++ibt)
        row.emplace_back(s.res.accu2(ibt, its));
      write(s.io.flux, kRow, row);
    }
    write(s.io.flux, kEnd, {});
  }

  // Restart file: the final nodal values for a later run. A run without any
  // time step has computed no new values: its initial values are its final
  // ones.
  if (s.codes.iowrit == 1) {
    for (int ip = 1; ip <= s.mesh.np; ++ip) {
      const double value = s.clock.nts >= 1 ? s.lev.hdnew(ip) : s.lev.hdold(ip);
      write(s.io.restartOut, kRestartRecord, {ip, s.mesh.ecoord(ip), value});
    }
  }

  // Written twice on purpose: the listing has always ended with the message
  // twice, and scripts that read the listing look for it there.
  write(s.io.lst(), kDone, {});
  write(s.io.lst(), kDone, {});
}

} // namespace qmr
