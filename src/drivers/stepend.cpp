// The end of a flow or transport step in the listing, and the profile store.
#include "drivers/step.hpp"
#include "io/layout.hpp"

namespace qmr {

namespace {
const Layout
    kStepDone("(21X,'***** TIME STEP',I3,' OF',I3,' COMPLETED *****')");
} // namespace

// The line is written twice on purpose: the listing has always shown two
// identical completion lines after every step, and readers of the listing
// count on them.
void stepDone(Files &io, const Clock &clock) {
  write(io.lst(), kStepDone, {clock.its, clock.nts});
  write(io.lst(), kStepDone, {clock.its, clock.nts});
}

void storeProfile(Observations &obs, const Mesh &mesh,
                  const Levels<double> &lev) {
  for (int ip = 1; ip <= mesh.np; ++ip)
    obs.tmprof(obs.itprof, ip) = lev.hdnew(ip);
  obs.itprof = obs.itprof + 1;
}

} // namespace qmr
