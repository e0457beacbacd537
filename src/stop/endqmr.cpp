#include "stop/stop.hpp"

namespace qmr {

// A failure ends here: the main input is closed, the message is written
// framed by "****" (to the listing, or to the console before the listing
// exists), and the run stops. The stop itself (flushing and closing every
// file) happens where StopRun is caught.
void endqmr(Files &io, int idelay, std::string_view message) {
  io.deck.close();
  Unit &to = io.listingOpen ? io.lst() : io.console;
  if (!to.isOpen()) to.openConsole();
  writeFree(to, {"****", message, "****"});
  if (io.diag.empty()) io.diag = std::string(message);
  tdelay(idelay);
  throw StopRun{kExitFailure};
}

// The normal end writes nothing of its own: the completion lines are
// already in the listing.
void endNormal(Files &io) {
  io.deck.close();
  tdelay(2);
}

// The pause after the banner and after warnings: the run never waits.
void tdelay(int n) { (void)n; }

} // namespace qmr
