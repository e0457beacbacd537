// Initial conditions: nodal values at the start time from the restart file
// of an earlier run or from one default value, then single-node overrides;
// also the first time level, the first time weight and the band constants.
#include "input/check.hpp"
#include "input/input.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
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

void inital(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Clock &clock, Levels<double> &lev,
            Band<double> &band) {
  if (codes.ioread == 1) {
    write(io.lst(), kRstHead, {});
    io.restartIn.setSection("restart records");
    for (int ip = 1; ip <= mesh.np; ++ip) {
      int iip = 0;
      double ecoo = 0.0;
      if (readChecked(io.restartIn, kRestartRecord,
                      {ref(iip), ref(ecoo), ref(lev.hdold(ip))}) != 0)
        error8(io);
      write(io.lst(), kNodeLine, {iip, ecoo, lev.hdold(ip)});
    }
    io.restartIn.close();
  } else {
    double hdeflt = 0.0;
    io.deck.setSection("default initial value record");
    readMain(io, kEightReals, {ref(hdeflt)});
    if (const auto v = values.find(ParamKind::InitialValue, 0, codes.imode))
      hdeflt = *v;
    write(io.lst(), kDefEcho, {hdeflt});
    for (int ip = 1; ip <= mesh.np; ++ip) lev.hdold(ip) = hdeflt;
  }
  for (int inonu = 1; inonu <= codes.nonu; ++inonu) {
    int npnonu = 0;
    double vlnonu = 0.0;
    io.deck.setSection("non-uniform initial value record " +
                       std::to_string(inonu));
    readUnchecked(io.deck, kNonu, {ref(npnonu), ref(vlnonu)});
    if (const auto v =
            values.find(ParamKind::InitialValues, inonu, codes.imode))
      vlnonu = *v;
    write(io.lst(), kNonuEcho, {npnonu, vlnonu});
    checkNode(io, mesh, io.deck.recno(), "non-uniform initial value node",
              npnonu);
    lev.hdold(npnonu) = vlnonu;
    lev.npnonu.push_back(npnonu);
  }
  clock.ptime = clock.tima;
  clock.theta = 1.0;
  band.ifullb = 3;
  band.ihalfb = 1;
  band.ihbp = 2;
}

} // namespace qmr
