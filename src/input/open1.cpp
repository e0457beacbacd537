#include "input/input.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "stop/stop.hpp"

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
void open1(Files &io, const Options &opt, Codes &codes) {
  // A check of the deck shows nothing on standard output: a failure before
  // the listing exists goes, with every other line, to a unit in memory.
  Unit &con = io.console;
  if (!con.isOpen()) {
    if (opt.check)
      con.openMemory("console");
    else
      con.openConsole();
  }
  if (!opt.quiet && !opt.check) write(con, kBanner, {});
  tdelay(2);

  if (opt.deck.empty()) {
    if (!io.deck.isOpen())
      openOrFail(io.deck, "C:\\QMR\\VELDA.INP", "main input", &Unit::openRead);
  } else {
    // The name on the command line is taken as it is.
    if (!io.deck.isOpen() && !io.deck.openRead(opt.deck))
      throw FileFault("cannot open the main input \"" + opt.deck +
                      "\": " + io.deck.why());
    io.deck.setRole("main input");
  }
  io.deck.setCheckFields(true);

  std::string letter(80, ' '), second(80, ' '), code(80, ' ');
  io.deck.setSection("job record: run type and flux file code");
  readMain(io, kJob, {ref(letter), ref(second), ref(code)});
  codes.iflux =
      (sameText(code, "05") || sameText(code, "OW") || sameText(code, "AN"))
          ? 0
          : 1;

  std::string outfil(200, ' '), grafil(200, ' '), flxfil(200, ' ');
  std::string ignored(200, ' ');
  io.deck.setSection("listing file name");
  readMain(io, kName, {ref(outfil)});
  io.deck.setSection("graphic file name");
  readMain(io, kName, {ref(grafil)});
  io.deck.setSection("flux file name");
  if (codes.iflux == 1) readMain(io, kName, {ref(flxfil)});
  io.deck.setSection("title record");
  readMain(io, kName, {ref(ignored)});

  // A check of the deck makes no file: the outputs are collected in memory.
  const auto create = opt.check ? &Unit::openDiscard : &Unit::openWrite;
  if (!io.listingOpen) {
    // Without a listing its name is still checked against the other files.
    if (opt.noListing)
      openOrFail(io.listing, outfil, "listing", &Unit::openNull, {&io.deck});
    else
      openOrFail(io.listing, outfil, "listing", create, {&io.deck});
    io.listingOpen = true;
  }
  if (!io.graphic.isOpen())
    openOrFail(io.graphic, grafil, "graphic file", create,
               {&io.deck, &io.listing});
  write(io.lst(), kOutEcho, {outfil});
  write(io.lst(), kGrafEcho, {grafil});
  if (codes.iflux == 1) {
    if (!io.flux.isOpen())
      openOrFail(io.flux, flxfil, "flux file", create,
                 {&io.deck, &io.listing, &io.graphic});
    write(io.lst(), kFluxEcho, {flxfil});
  }

  listValuesSet(io, opt.values);

  if (sameText(letter, "F")) codes.imode = kFlowRun;
  if (sameText(letter, "T")) codes.imode = kTransportRun;
  if (codes.imode == kNoRun)
    badInput(io, io.deck.name() + ", record 1, column 1: run type \"" +
                     letter.substr(0, 1) +
                     "\" is neither F (flow run) nor T (transport run)");
}

} // namespace qmr
