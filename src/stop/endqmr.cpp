#include "stop/stop.hpp"

namespace qmr {

// A failure ends here: the main input is closed, the message is written
// framed by "****" (to the listing, or to the console before the listing
// exists), and the run stops. The stop itself (flushing and closing every
// file) happens where StopRun is caught.
void endqmr(State &s, int idelay, std::string_view message) {
  s.io.u5.close();
  const bool normal = sameText(message, "null");
  if (!normal) {
    Unit &to = s.io.listingOpen ? s.io.lst() : s.io.con;
    if (!to.isOpen()) to.openConsole();
    writeFree(to, {"****", message, "****"});
    if (s.io.diag.empty()) s.io.diag = std::string(message);
  }
  tdelay(idelay);
  throw StopRun{normal ? kExitNormal : kExitFailure};
}

// The normal end writes nothing of its own: the completion lines are
// already in the listing.
void endNormal(State &s) {
  s.io.u5.close();
  tdelay(2);
}

// The pause after the banner and after warnings: the run never waits.
void tdelay(int n) { (void)n; }

} // namespace qmr
