// End-of-run output: the profile table of the graphic file, the flux
// history of the flux file, the restart file and the completion message.
#include <cmath>
#include <vector>

#include "layout/layout.hpp"
#include "layout/records.hpp"
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
  for (int k = 1; k <= s.ntprof; ++k) head.emplace_back(s.ltprof(k));
  write(s.io.u7, kProfHead, head);
  write(s.io.u7, kBlankLine, {});
  for (int ip = 1; ip <= s.np; ++ip) {
    const double rxcord = s.ecoord(ip);
    const double crdlog = logpos(rxcord);
    for (s.itprof = 1; s.itprof <= s.ntprof; ++s.itprof) {
      double tlprof = s.tmprof(s.itprof, ip);
      if (std::fabs(tlprof) < static_cast<double>(1.0E-15f)) tlprof = 0.0;
      s.tprof(s.itprof) = static_cast<float>(tlprof);
    }
    std::vector<Val> row{ip, rxcord, crdlog};
    for (int k = 1; k <= s.ntprof; ++k) row.emplace_back(s.tprof(k));
    write(s.io.u7, kRow, row);
  }
  write(s.io.u7, kEnd, {});

  // Flux history: the flux accumulated at each prescribed-value node up to
  // the end of every step.
  if (s.iflux != 0) {
    std::vector<Val> nodes;
    for (int ibt = 1; ibt <= s.nbt; ++ibt) nodes.emplace_back(s.idv(ibt));
    write(s.io.u4, kFluxHead, nodes);
    write(s.io.u4, kBlankLine, {});
    for (s.its = 1; s.its <= s.nts; ++s.its) {
      s.ttime = s.timvec(s.its);
      const double timlog = logpos(s.ttime);
      std::vector<Val> row{s.its, s.ttime, timlog};
      for (int ibt = 1; ibt <= s.nbt; ++ibt)
        row.emplace_back(s.accu2(ibt, s.its));
      write(s.io.u4, kRow, row);
    }
    write(s.io.u4, kEnd, {});
  }

  // Restart file: the final nodal values for a later run. A run without any
  // time step has computed no new values: its initial values are its final
  // ones.
  if (s.iowrit == 1) {
    for (int ip = 1; ip <= s.np; ++ip) {
      const double value = s.nts >= 1 ? s.hdnew(ip) : s.hdold(ip);
      write(s.io.u9, kRestartRecord, {ip, s.ecoord(ip), value});
    }
  }

  // Written twice on purpose: the listing has always ended with the message
  // twice, and scripts that read the listing look for it there.
  write(s.io.lst(), kDone, {});
  write(s.io.lst(), kDone, {});
}

} // namespace qmr
