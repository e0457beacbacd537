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
  Unit &con = s.io.console;
  if (!con.isOpen()) {
    if (s.opt.check)
      con.openMemory("console");
    else
      con.openConsole();
  }
  if (!s.opt.quiet && !s.opt.check) write(con, kBanner, {});
  tdelay(2);

  if (s.opt.deck.empty()) {
    if (!s.io.deck.isOpen())
      openOrFail(s.io.deck, "C:\\QMR\\VELDA.INP", "main input",
                 &Unit::openRead);
  } else {
    // The name on the command line is taken as it is.
    if (!s.io.deck.isOpen() && !s.io.deck.openRead(s.opt.deck))
      throw FileFault("cannot open the main input \"" + s.opt.deck +
                      "\": " + s.io.deck.why());
    s.io.deck.setRole("main input");
  }
  s.io.deck.setCheckFields(true);

  std::string letter(80, ' '), second(80, ' '), code(80, ' ');
  s.io.deck.setSection("job record: run type and flux file code");
  readMain(s.io, kJob, {ref(letter), ref(second), ref(code)});
  s.codes.iflux =
      (sameText(code, "05") || sameText(code, "OW") || sameText(code, "AN"))
          ? 0
          : 1;

  std::string outfil(200, ' '), grafil(200, ' '), flxfil(200, ' ');
  std::string ignored(200, ' ');
  s.io.deck.setSection("listing file name");
  readMain(s.io, kName, {ref(outfil)});
  s.io.deck.setSection("graphic file name");
  readMain(s.io, kName, {ref(grafil)});
  s.io.deck.setSection("flux file name");
  if (s.codes.iflux == 1) readMain(s.io, kName, {ref(flxfil)});
  s.io.deck.setSection("title record");
  readMain(s.io, kName, {ref(ignored)});

  // A check of the deck makes no file: the outputs are collected in memory.
  const auto create = s.opt.check ? &Unit::openDiscard : &Unit::openWrite;
  if (!s.io.listingOpen) {
    // Without a listing its name is still checked against the other files.
    if (s.opt.noListing)
      openOrFail(s.io.listing, outfil, "listing", &Unit::openNullFile,
                 {&s.io.deck});
    else
      openOrFail(s.io.listing, outfil, "listing", create, {&s.io.deck});
    s.io.listingOpen = true;
  }
  if (!s.io.graphic.isOpen())
    openOrFail(s.io.graphic, grafil, "graphic file", create,
               {&s.io.deck, &s.io.listing});
  write(s.io.lst(), kOutEcho, {outfil});
  write(s.io.lst(), kGrafEcho, {grafil});
  if (s.codes.iflux == 1) {
    if (!s.io.flux.isOpen())
      openOrFail(s.io.flux, flxfil, "flux file", create,
                 {&s.io.deck, &s.io.listing, &s.io.graphic});
    write(s.io.lst(), kFluxEcho, {flxfil});
  }

  if (sameText(letter, "F")) s.codes.imode = kFlowRun;
  if (sameText(letter, "T")) s.codes.imode = kTransportRun;
  if (s.codes.imode == kNoRun)
    badInput(s.io, s.io.deck.name() + ", record 1, column 1: run type \"" +
                       letter.substr(0, 1) +
                       "\" is neither F (flow run) nor T (transport run)");
}

} // namespace qmr
