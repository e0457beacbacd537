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
  if (s.ioread == 1) {
    write(s.io.lst(), kRstHead, {});
    s.io.u8.setSection("restart records");
    for (int ip = 1; ip <= s.np; ++ip) {
      int iip = 0;
      double ecoo = 0.0;
      if (readChecked(s.io.u8, kRestartRecord,
                      {ref(iip), ref(ecoo), ref(s.hdold(ip))}) != 0)
        error8(s);
      write(s.io.lst(), kNodeLine, {iip, ecoo, s.hdold(ip)});
    }
    s.io.u8.close();
  } else {
    double hdeflt = 0.0;
    s.io.u5.setSection("default initial value record");
    readMain(s, kEightReals, {ref(hdeflt)});
    write(s.io.lst(), kDefEcho, {hdeflt});
    for (int ip = 1; ip <= s.np; ++ip) s.hdold(ip) = hdeflt;
  }
  for (int inonu = 1; inonu <= s.nonu; ++inonu) {
    int npnonu = 0;
    double vlnonu = 0.0;
    s.io.u5.setSection("non-uniform initial value record " +
                       std::to_string(inonu));
    readUnchecked(s.io.u5, kNonu, {ref(npnonu), ref(vlnonu)});
    write(s.io.lst(), kNonuEcho, {npnonu, vlnonu});
    checkNode(s, s.io.u5.recno(), "non-uniform initial value node", npnonu);
    s.hdold(npnonu) = vlnonu;
  }
  s.ptime = s.tima;
  s.theta = 1.0;
  s.ifullb = 3;
  s.ihalfb = 1;
  s.ihbp = 2;
}

} // namespace qmr
