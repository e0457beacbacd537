// Auxiliary file names and the mesh: node coordinates, element lengths and
// element mid-points, typed by the user or generated (graded or logarithmic).
#include <string>
#include <vector>

#include "input/input.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "math/crmath.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kReaEcho("(1X,' RESTART READ  FILE = ',A200)");
const Layout kWriEcho("(1X,' RESTART WRITE FILE = ',A200)");
const Layout kDarEcho("(1X,' VELOCITY FILE = ',A200)");
const Layout kGradEcho("(/,' COORDINATE OF NODE NUMBER 1        = ',E12.5,/,' COORDINATE OF NODE NUMBER N        = ',E12.5,/,' GRADING FACTOR FOR LINEAR ELEMENTS = ',E12.5)");
const Layout kLogEcho("(/,' AUTOMATIC LOGARITHMIC ELEMENT LENGTH GENERATION',/,' -----------------------------------------------',/,/,' COORDINATE OF NODE 1                        = ',E12.5,/,' COORDINATE OF NODE NP                       = ',E12.5,/)");
const Layout kNodeHead("(/,'NODAL COORDINATES',/,'*****************',/,/,6(' NODE   E-COORD '),/,6(' -------------- '),/,/)");
const Layout kPairs("(6(I5,E11.4))");
const Layout kElemHead("(/,'ELEMENT LENGTHS',/,'***************',/,/,6(' ELEM    LENGTH '),/,6(' -------------- '),/,/)");
// clang-format on

// Coordinates typed by the user, eight to a record.
void manual(Files &io, Mesh &mesh) {
  std::vector<Ref> to;
  for (int ip = 1; ip <= mesh.np; ++ip) to.push_back(ref(mesh.ecoord(ip)));
  io.deck.setSection("node coordinates");
  readUnchecked(io.deck, kEightReals, to);
  plausibleCoordinates(io, mesh, io.deck.recno());
  for (int ie = 1; ie <= mesh.ne; ++ie)
    mesh.elen(ie) = mesh.ecoord(ie + 1) - mesh.ecoord(ie);
}

// Graded elements: the domain is divided uniformly in the coordinate raised
// to the power 1/scfact and mapped back; code 2 stores the lengths in
// reverse element order.
void graded(Files &io, const Codes &codes, Mesh &mesh) {
  double ecord1 = 0.0, ecordn = 0.0, scfact = 0.0;
  io.deck.setSection("graded mesh record");
  readUnchecked(io.deck, kEightReals, {ref(ecord1), ref(ecordn), ref(scfact)});
  plausibleGraded(io, ecord1, ecordn, scfact);
  write(io.lst(), kGradEcho, {ecord1, ecordn, scfact});
  double dstart = 0.0;
  const double scfinv = 1.0 / scfact;
  const double domlen = ecordn - ecord1;
  const double qthick = crpow(domlen, scfinv);
  const double qelen = qthick / mesh.ne;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    const int io = mesh.ne - ie + 1;
    const double qielen = ie * qelen;
    const double dfinis = crpow(qielen, scfact);
    if (codes.imshgn == 1) mesh.elen(ie) = dfinis - dstart;
    if (codes.imshgn == 2) mesh.elen(io) = dfinis - dstart;
    dstart = dfinis;
  }
  mesh.ecoord(1) = ecord1;
  for (int ie = 1; ie <= mesh.ne; ++ie)
    mesh.ecoord(ie + 1) = mesh.ecoord(ie) + mesh.elen(ie);
}

// Logarithmic elements: node coordinates in geometric sequence, the
// logarithm advanced by repeated addition.
void logarithmic(Files &io, Mesh &mesh) {
  double ecord1 = 0.0, ecordn = 0.0;
  io.deck.setSection("logarithmic mesh record");
  readUnchecked(io.deck, kTwoRealsInt, {ref(ecord1), ref(ecordn)});
  plausibleLogarithmic(io, ecord1, ecordn);
  write(io.lst(), kLogEcho, {ecord1, ecordn});
  const double dlogn = crlog10(ecordn);
  double dlog1 = crlog10(ecord1);
  const double domlog = dlogn - dlog1;
  const double elelog = domlog / mesh.ne;
  mesh.ecoord(1) = ecord1;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    dlog1 = dlog1 + elelog;
    mesh.ecoord(ie + 1) = crpow(10.0, dlog1);
    mesh.elen(ie) = mesh.ecoord(ie + 1) - mesh.ecoord(ie);
  }
}

} // namespace

void meshgn(Files &io, const Options &opt, const Codes &codes, Mesh &mesh) {
  std::string afil(200, ' ');
  // A check of the deck (--check) reads the files the run reads and makes
  // none of the files it would write (a file only read is never made).
  const auto openToWrite = opt.check ? &Unit::openDiscard : &Unit::openUnknown;
  if (codes.ioread == 1) {
    std::string reafil(200, ' ');
    io.deck.setSection("name of the restart file to read");
    readMain(io, kName, {ref(reafil)});
    io.deck.setSection("note record after the restart file name");
    readMain(io, kName, {ref(afil)});
    write(io.lst(), kReaEcho, {reafil});
    openOrFail(io.restartIn, reafil, "restart file to read",
               &Unit::openUnknownToRead);
  }
  if (codes.iowrit == 1) {
    std::string wrifil(200, ' ');
    io.deck.setSection("name of the restart file to write");
    readUnchecked(io.deck, kName, {ref(wrifil)});
    io.deck.setSection("note record after the restart file name");
    readUnchecked(io.deck, kName, {ref(afil)});
    write(io.lst(), kWriEcho, {wrifil});
    openOrFail(io.restartOut, wrifil, "restart file to write", openToWrite,
               {&io.deck, &io.lst(), &io.graphic, &io.flux, &io.velocity});
  }
  if (codes.iodarc > 0) {
    std::string darfil(200, ' ');
    io.deck.setSection("velocity file name");
    readUnchecked(io.deck, kName, {ref(darfil)});
    io.deck.setSection("note record after the velocity file name");
    readUnchecked(io.deck, kName, {ref(afil)});
    write(io.lst(), kDarEcho, {darfil});
    // A transport run only reads the velocity file: a missing one is told
    // as such and not created. A flow run writes it.
    openOrFail(io.velocity, darfil, "velocity file",
               codes.imode == 2 ? &Unit::openUnknownToRead : openToWrite,
               {&io.deck, &io.lst(), &io.graphic, &io.flux, &io.restartOut});
  }

  if (codes.imshgn == 1 || codes.imshgn == 2) {
    graded(io, codes, mesh);
  } else if (codes.imshgn == 3) {
    logarithmic(io, mesh);
  } else {
    manual(io, mesh);
  }
  for (int ie = 1; ie <= mesh.ne; ++ie)
    mesh.xcoord(ie) = (mesh.ecoord(ie + 1) + mesh.ecoord(ie)) * 0.5;

  std::vector<Val> pairs;
  write(io.lst(), kNodeHead, {});
  for (int ip = 1; ip <= mesh.np; ++ip) {
    pairs.emplace_back(ip);
    pairs.emplace_back(mesh.ecoord(ip));
  }
  write(io.lst(), kPairs, pairs);
  pairs.clear();
  write(io.lst(), kElemHead, {});
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    pairs.emplace_back(ie);
    pairs.emplace_back(mesh.elen(ie));
  }
  write(io.lst(), kPairs, pairs);
}

} // namespace qmr
