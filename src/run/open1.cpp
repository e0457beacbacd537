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
  // A check of the deck shows nothing on standard output: a failure before
  // the listing exists goes, with every other line, to a unit in memory.
  Unit &con = s.io.con;
  if (!con.isOpen()) {
    if (s.opt.check)
      con.openMemory("console");
    else
      con.openConsole();
  }
  if (!s.opt.quiet && !s.opt.check) write(con, kBanner, {});
  tdelay(2);

  if (s.opt.deck.empty()) {
    s.datfil = padded("C:\\QMR\\VELDA.INP", 255);
    if (!s.io.u5.isOpen())
      openOrFail(s.io.u5, s.datfil, "main input", &Unit::openRead);
  } else {
    // The name on the command line is taken as it is.
    s.datfil = s.opt.deck;
    if (!s.io.u5.isOpen() && !s.io.u5.openRead(s.opt.deck))
      throw FileFault("cannot open the main input \"" + s.opt.deck +
                      "\": " + s.io.u5.why());
    s.io.u5.setRole("main input");
  }
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

  // A check of the deck makes no file: the outputs are collected in memory.
  const auto create = s.opt.check ? &Unit::openDiscard : &Unit::openWrite;
  if (!s.io.listingOpen) {
    // Without a listing its name is still checked against the other files.
    if (s.opt.noListing)
      openOrFail(s.io.u6, outfil, "listing", &Unit::openNullFile, {&s.io.u5});
    else
      openOrFail(s.io.u6, outfil, "listing", create, {&s.io.u5});
    s.io.listingOpen = true;
  }
  if (!s.io.u7.isOpen())
    openOrFail(s.io.u7, grafil, "graphic file", create, {&s.io.u5, &s.io.u6});
  write(s.io.lst(), kOutEcho, {outfil});
  write(s.io.lst(), kGrafEcho, {grafil});
  if (s.iflux == 1) {
    if (!s.io.u4.isOpen())
      openOrFail(s.io.u4, flxfil, "flux file", create,
                 {&s.io.u5, &s.io.u6, &s.io.u7});
    write(s.io.lst(), kFluxEcho, {flxfil});
  }

  if (sameText(letter, "F")) s.imode = kFlowRun;
  if (sameText(letter, "T")) s.imode = kTransportRun;
  if (s.imode == kNoRun)
    badInput(s, s.io.u5.name() + ", record 1, column 1: run type \"" +
                    letter.substr(0, 1) +
                    "\" is neither F (flow run) nor T (transport run)");
}

} // namespace qmr
