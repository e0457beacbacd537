// Initial conditions: nodal values at the start time from the restart file
// of an earlier run or from one default value, then single-node overrides;
// also the first time level, the first time weight and the band constants.
#include "input/check.hpp"
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kRstHead("(' NODE     E-COORD   CONCENTRATION',/,' ----     -------   -------------',/,/)");
const Layout kDefEcho("(/,' DEFAULT INITIAL CONCENTRATION = ',E12.5,/,' *******************************',/,/)");
const Layout kNonu("(I5,F10.0)");
const Layout kNonuEcho("(/,' NODE NUMBER (',I4,' ) - NON-UNIFORM INITIAL VALUE = ',E12.5)");
// clang-format on

} // namespace

void inital(State &s) {
  if (s.codes.ioread == 1) {
    write(s.io.lst(), kRstHead, {});
    s.io.restartIn.setSection("restart records");
    for (int ip = 1; ip <= s.mesh.np; ++ip) {
      int iip = 0;
      double ecoo = 0.0;
      if (readChecked(s.io.restartIn, kRestartRecord,
                      {ref(iip), ref(ecoo), ref(s.lev.hdold(ip))}) != 0)
        error8(s.io);
      write(s.io.lst(), kNodeLine, {iip, ecoo, s.lev.hdold(ip)});
    }
    s.io.restartIn.close();
  } else {
    double hdeflt = 0.0;
    s.io.deck.setSection("default initial value record");
    readMain(s.io, kEightReals, {ref(hdeflt)});
    write(s.io.lst(), kDefEcho, {hdeflt});
    for (int ip = 1; ip <= s.mesh.np; ++ip) s.lev.hdold(ip) = hdeflt;
  }
  for (int inonu = 1; inonu <= s.codes.nonu; ++inonu) {
    int npnonu = 0;
    double vlnonu = 0.0;
    s.io.deck.setSection("non-uniform initial value record " +
                         std::to_string(inonu));
    readUnchecked(s.io.deck, kNonu, {ref(npnonu), ref(vlnonu)});
    write(s.io.lst(), kNonuEcho, {npnonu, vlnonu});
    checkNode(s, s.io.deck.recno(), "non-uniform initial value node", npnonu);
    s.lev.hdold(npnonu) = vlnonu;
  }
  s.clock.ptime = s.clock.tima;
  s.clock.theta = 1.0;
  s.band.ifullb = 3;
  s.band.ihalfb = 1;
  s.band.ihbp = 2;
}

} // namespace qmr
