// Observation nodes and profile steps, and the headings of the graphic file
// and of the flux file.
#include <vector>

#include "input/check.hpp"
#include "input/input.hpp"
#include "input/plausible.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kObsHead("('1.TIMESTEP   2.TIMEVAL   3.LOGTIME',40('   OBS.(',I3,')'),'*')");
const Layout kFluxHead("('1.TIMESTEP   2.TIMEVAL   3.LOGTIME',40('   OBS.(',I3,')'))");
// clang-format on

} // namespace

void obsnod(State &s) {
  std::vector<Ref> to;
  if (s.obs.nobs > 0) {
    for (int iobs = 1; iobs <= s.obs.nobs; ++iobs)
      to.push_back(ref(s.obs.ldobs(iobs)));
    s.io.deck.setSection("observation nodes");
    readMain(s.io, kOneInt, to);
    const long last = s.io.deck.recno();
    for (int iobs = 1; iobs <= s.obs.nobs; ++iobs)
      checkNode(s, last - s.obs.nobs + iobs, "observation node",
                s.obs.ldobs(iobs));
    plausibleObservationNodes(s, last);
  }
  if (s.obs.ntprof > 0) {
    to.clear();
    for (int k = 1; k <= s.obs.ntprof; ++k) to.push_back(ref(s.obs.ltprof(k)));
    s.io.deck.setSection("profile steps");
    readMain(s.io, kOneInt, to);
    plausibleProfileSteps(s, s.io.deck.recno());
  }
  s.obs.itprof = 1;

  std::vector<Val> nodes;
  for (int iobs = 1; iobs <= s.obs.nobs; ++iobs)
    nodes.emplace_back(s.obs.ldobs(iobs));
  write(s.io.graphic, kObsHead, nodes);
  write(s.io.graphic, kBlankLine, {});
  if (s.codes.iflux == 1) {
    nodes.clear();
    for (int ibt = 1; ibt <= s.bc.nbt; ++ibt) nodes.emplace_back(s.bc.idv(ibt));
    write(s.io.flux, kFluxHead, nodes);
    write(s.io.flux, kBlankLine, {});
  }
}

} // namespace qmr
