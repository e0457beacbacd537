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
  if (s.nobs > 0) {
    for (int iobs = 1; iobs <= s.nobs; ++iobs) to.push_back(ref(s.ldobs(iobs)));
    s.io.u5.setSection("observation nodes");
    readMain(s, kOneInt, to);
    const long last = s.io.u5.recno();
    for (int iobs = 1; iobs <= s.nobs; ++iobs)
      checkNode(s, last - s.nobs + iobs, "observation node", s.ldobs(iobs));
    plausibleObservationNodes(s, last);
  }
  if (s.ntprof > 0) {
    to.clear();
    for (int k = 1; k <= s.ntprof; ++k) to.push_back(ref(s.ltprof(k)));
    s.io.u5.setSection("profile steps");
    readMain(s, kOneInt, to);
    plausibleProfileSteps(s, s.io.u5.recno());
  }
  s.itprof = 1;

  std::vector<Val> nodes;
  for (s.iobs = 1; s.iobs <= s.nobs; ++s.iobs)
    nodes.emplace_back(s.ldobs(s.iobs));
  write(s.io.u7, kObsHead, nodes);
  write(s.io.u7, kBlankLine, {});
  if (s.iflux == 1) {
    nodes.clear();
    for (int ibt = 1; ibt <= s.nbt; ++ibt) nodes.emplace_back(s.idv(ibt));
    write(s.io.u4, kFluxHead, nodes);
    write(s.io.u4, kBlankLine, {});
  }
}

} // namespace qmr
