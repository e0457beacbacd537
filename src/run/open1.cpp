#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "run/run.hpp"

namespace qmr {

namespace {
// The start-up banner, box characters in UTF-8.
const Layout kBanner(
    "(24(/),17X,'╔',46('═'),'╗ ',/,17X,'║',46X,'║ ',/,17X,'║          . . . . .  Q M R  . . . . .         ║ ',/,17X,'║',46X,'║ ',/,17X,'╠',46('═'),'╣ ',/,17X,'║     A FINITE-ELEMENT MODEL FOR TRANSIENT     ║ ',/,17X,'║  GROUNDWATER FLOW AND CONTAMINANT TRANSPORT  ║ ',/,17X,'║         IN A QUENMOOR AQUIFER SYSTEM         ║ ',/,17X,'║',46X,'║ ',/,17X,'║                 VERSION 10.0                 ║ ',/,17X,'║      Built for 64 and 32 bit Windows PCs     ║ ',/,17X,'╚',46('═'),'╝ ',/)");
const Layout kJob("(A1,A1,A2)");
const Layout kOutEcho("(1X,'  OUTPUT  FILE = ',A200)");
const Layout kGrafEcho("(1X,'  GRAPHIC FILE = ',A200)");
const Layout kFluxEcho("(1X,'  FLUX    FILE = ',A200)");
} // namespace

// Job files: banner, main input, the job records, and the listing, graphic
// and flux files they name.
void open1(State &s) {
  Unit &con = s.io.con;
  if (!con.isOpen()) con.openConsole();
  write(con, kBanner, {});
  tdelay(2);

  s.datfil = padded("C:\\QMR\\VELDA.INP", 255);
  if (!s.io.u5.isOpen())
    openOrFail(s.io.u5, s.datfil, "main input", &Unit::openRead);
  s.io.u5.setCheckFields(true);

  std::string letter(80, ' '), second(80, ' '), code(80, ' ');
  s.io.u5.setSection("job record: run type and flux file code");
  readMain(s, kJob, {ref(letter), ref(second), ref(code)});
  s.iflux =
      (sameText(code, "05") || sameText(code, "OW") || sameText(code, "AN"))
          ? 0
          : 1;

  std::string outfil(200, ' '), grafil(200, ' '), flxfil(200, ' ');
  std::string ignored(200, ' ');
  s.io.u5.setSection("listing file name");
  readMain(s, kName, {ref(outfil)});
  s.io.u5.setSection("graphic file name");
  readMain(s, kName, {ref(grafil)});
  s.io.u5.setSection("flux file name");
  if (s.iflux == 1) readMain(s, kName, {ref(flxfil)});
  s.io.u5.setSection("title record");
  readMain(s, kName, {ref(ignored)});

  if (!s.io.listingOpen) {
    openOrFail(s.io.u6, outfil, "listing", &Unit::openWrite, {&s.io.u5});
    s.io.listingOpen = true;
  }
  if (!s.io.u7.isOpen())
    openOrFail(s.io.u7, grafil, "graphic file", &Unit::openWrite,
               {&s.io.u5, &s.io.u6});
  write(s.io.lst(), kOutEcho, {outfil});
  write(s.io.lst(), kGrafEcho, {grafil});
  if (s.iflux == 1) {
    if (!s.io.u4.isOpen())
      openOrFail(s.io.u4, flxfil, "flux file", &Unit::openWrite,
                 {&s.io.u5, &s.io.u6, &s.io.u7});
    write(s.io.lst(), kFluxEcho, {flxfil});
  }

  if (sameText(letter, "F")) s.imode = 1;
  if (sameText(letter, "T")) s.imode = 2;
  if (s.imode == 0)
    badInput(s, s.io.u5.name() + ", record 1, column 1: run type \"" +
                    letter.substr(0, 1) +
                    "\" is neither F (flow run) nor T (transport run)");
}

} // namespace qmr
