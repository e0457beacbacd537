// Step start: clears the system, starts the iterate from the old values,
// advances the clock, fixes the time weighting and prints the step header.
#include "fem/fem.hpp"
#include "io/layout.hpp"

namespace qmr {

namespace {
const Layout kHeader(
    "(/,/,/,80('*'),/,/,20X,'      TIME STEP NUMBER ',I4,/,20X,'      *********************',/,/,20X,'      CURRENT TIME = ',E12.5,/,20X,'     PREVIOUS TIME = ',E12.5,/,20X,'         TIME STEP = ',E12.5,/,20X,'      INITIAL TIME = ',E12.5,/,20X,'      ELAPSED TIME = ',E12.5,/,20X,'             THETA = ',E12.5,/,/,20X,'      ****************************',/,/)");
} // namespace

void tstart(Clock &clock, const Codes &codes, const Mesh &mesh,
            Band<double> &band, Levels<double> &lev, Results &res, Files &io) {
  for (int i = 1; i <= mesh.nd; ++i) {
    lev.hdnew(i) = lev.hdold(i);
    band.aslod(i) = 0.0;
    for (int j = 1; j <= band.ifullb; ++j) band.astif(i, j) = 0.0;
  }

  clock.ttime = clock.timvec(clock.its);
  const double etime = clock.ttime - clock.tima;
  clock.delta = clock.ttime - clock.ptime;

  // The first step is always fully implicit; later steps are centred unless
  // the run asks for the implicit scheme throughout.
  if (clock.its != 1 && codes.ikall == 0) clock.theta = 0.5;
  clock.thetm = 1.0 - clock.theta;
  clock.thtm1 = -clock.thetm;
  res.pfxsum = 0.0;

  write(io.lst(), kHeader,
        {clock.its, clock.ttime, clock.ptime, clock.delta, clock.tima, etime,
         clock.theta});

  clock.ptime = clock.ttime;
}

} // namespace qmr
