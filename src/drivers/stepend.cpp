// The end of a flow or transport step in the listing, and the profile store.
#include "drivers/step.hpp"
#include "layout/layout.hpp"

namespace qmr {

namespace {
const Layout
    kStepDone("(21X,'***** TIME STEP',I3,' OF',I3,' COMPLETED *****')");
} // namespace

// The line is written twice on purpose: the listing has always shown two
// identical completion lines after every step, and readers of the listing
// count on them.
void stepDone(State &s) {
  write(s.io.lst(), kStepDone, {s.its, s.nts});
  write(s.io.lst(), kStepDone, {s.its, s.nts});
}

void storeProfile(State &s) {
  for (int ip = 1; ip <= s.np; ++ip) s.tmprof(s.itprof, ip) = s.hdnew(ip);
  s.itprof = s.itprof + 1;
}

} // namespace qmr
