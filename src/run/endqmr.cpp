#include <cstdio>

#include "layout/layout.hpp"
#include "run/run.hpp"

namespace qmr {

// Every run ends here: the main input is closed, a failure message is
// written framed by "****" (to the listing, or to the console before the
// listing exists), and the run stops. The stop itself (flushing and closing
// every file) happens where StopRun is caught.
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

// The pause after the banner and after warnings: the run never waits.
void tdelay(int n) { (void)n; }

} // namespace qmr
