// Observation nodes and profile steps, and the headings of the graphic file
// and of the flux file.
#include <vector>

#include "input/check.hpp"
#include "input/input.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kObsHead("('1.TIMESTEP   2.TIMEVAL   3.LOGTIME',40('   OBS.(',I3,')'),'*')");
const Layout kFluxHead("('1.TIMESTEP   2.TIMEVAL   3.LOGTIME',40('   OBS.(',I3,')'))");
// clang-format on

} // namespace

void obsnod(Files &io, const Codes &codes, const Mesh &mesh, const Clock &clock,
            const Prescribed<double> &bc, Observations &obs) {
  std::vector<Ref> to;
  if (obs.nobs > 0) {
    for (int iobs = 1; iobs <= obs.nobs; ++iobs)
      to.push_back(ref(obs.ldobs(iobs)));
    io.deck.setSection("observation nodes");
    readMain(io, kOneInt, to);
    const long last = io.deck.recno();
    for (int iobs = 1; iobs <= obs.nobs; ++iobs)
      checkNode(io, mesh, last - obs.nobs + iobs, "observation node",
                obs.ldobs(iobs));
    plausibleObservationNodes(io, obs, last);
  }
  if (obs.ntprof > 0) {
    to.clear();
    for (int k = 1; k <= obs.ntprof; ++k) to.push_back(ref(obs.ltprof(k)));
    io.deck.setSection("profile steps");
    readMain(io, kOneInt, to);
    plausibleProfileSteps(io, clock, obs, io.deck.recno());
  }
  obs.itprof = 1;

  std::vector<Val> nodes;
  for (int iobs = 1; iobs <= obs.nobs; ++iobs)
    nodes.emplace_back(obs.ldobs(iobs));
  write(io.graphic, kObsHead, nodes);
  write(io.graphic, kBlankLine, {});
  if (codes.iflux == 1) {
    nodes.clear();
    for (int ibt = 1; ibt <= bc.nbt; ++ibt) nodes.emplace_back(bc.idv(ibt));
    write(io.flux, kFluxHead, nodes);
    write(io.flux, kBlankLine, {});
  }
}

} // namespace qmr
