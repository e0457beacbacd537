// Step start: clears the system, starts the iterate from the old values,
// advances the clock, fixes the time weighting and prints the step header.
#include "fem/fem.hpp"
#include "layout/layout.hpp"

namespace qmr {

namespace {
const Layout kHeader(
    "(/,/,/,80('*'),/,/,20X,'      TIME STEP NUMBER ',I4,/,20X,'      *********************',/,/,20X,'      CURRENT TIME = ',E12.5,/,20X,'     PREVIOUS TIME = ',E12.5,/,20X,'         TIME STEP = ',E12.5,/,20X,'      INITIAL TIME = ',E12.5,/,20X,'      ELAPSED TIME = ',E12.5,/,20X,'             THETA = ',E12.5,/,/,20X,'      ****************************',/,/)");
} // namespace

void tstart(State &s) {
  for (int i = 1; i <= s.nd; ++i) {
    s.hdnew(i) = s.hdold(i);
    s.aslod(i) = 0.0;
    for (int j = 1; j <= s.ifullb; ++j) s.astif(i, j) = 0.0;
  }

  s.ttime = s.timvec(s.its);
  const double etime = s.ttime - s.tima;
  s.delta = s.ttime - s.ptime;

  // The first step is always fully implicit; later steps are centred unless
  // the run asks for the implicit scheme throughout.
  if (s.its != 1 && s.ikall == 0) s.theta = 0.5;
  s.thetm = 1.0 - s.theta;
  s.thtm1 = -s.thetm;
  s.pfxsum = 0.0;

  write(s.io.lst(), kHeader,
        {s.its, s.ttime, s.ptime, s.delta, s.tima, etime, s.theta});

  s.ptime = s.ttime;
}

} // namespace qmr
