// Auxiliary file names and the mesh: node coordinates, element lengths and
// element mid-points, typed by the user or generated (graded or logarithmic).
#include <string>
#include <vector>

#include "input/input.hpp"
#include "input/plausible.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
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
void manual(State &s) {
  std::vector<Ref> to;
  for (int ip = 1; ip <= s.mesh.np; ++ip) to.push_back(ref(s.mesh.ecoord(ip)));
  s.io.deck.setSection("node coordinates");
  readUnchecked(s.io.deck, kEightReals, to);
  plausibleCoordinates(s, s.io.deck.recno());
  for (int ie = 1; ie <= s.mesh.ne; ++ie)
    s.mesh.elen(ie) = s.mesh.ecoord(ie + 1) - s.mesh.ecoord(ie);
}

// Graded elements: the domain is divided uniformly in the coordinate raised
// to the power 1/scfact and mapped back; code 2 stores the lengths in
// reverse element order.
void graded(State &s) {
  double ecord1 = 0.0, ecordn = 0.0, scfact = 0.0;
  s.io.deck.setSection("graded mesh record");
  readUnchecked(s.io.deck, kEightReals,
                {ref(ecord1), ref(ecordn), ref(scfact)});
  plausibleGraded(s, ecord1, ecordn, scfact);
  write(s.io.lst(), kGradEcho, {ecord1, ecordn, scfact});
  double dstart = 0.0;
  const double scfinv = 1.0 / scfact;
  const double domlen = ecordn - ecord1;
  const double qthick = crpow(domlen, scfinv);
  const double qelen = qthick / s.mesh.ne;
  for (int ie = 1; ie <= s.mesh.ne; ++ie) {
    const int io = s.mesh.ne - ie + 1;
    const double qielen = ie * qelen;
    const double dfinis = crpow(qielen, scfact);
    if (s.codes.imshgn == 1) s.mesh.elen(ie) = dfinis - dstart;
    if (s.codes.imshgn == 2) s.mesh.elen(io) = dfinis - dstart;
    dstart = dfinis;
  }
  s.mesh.ecoord(1) = ecord1;
  for (int ie = 1; ie <= s.mesh.ne; ++ie)
    s.mesh.ecoord(ie + 1) = s.mesh.ecoord(ie) + s.mesh.elen(ie);
}

// Logarithmic elements: node coordinates in geometric sequence, the
// logarithm advanced by repeated addition.
void logarithmic(State &s) {
  double ecord1 = 0.0, ecordn = 0.0;
  s.io.deck.setSection("logarithmic mesh record");
  readUnchecked(s.io.deck, kTwoRealsInt, {ref(ecord1), ref(ecordn)});
  plausibleLogarithmic(s, ecord1, ecordn);
  write(s.io.lst(), kLogEcho, {ecord1, ecordn});
  const double dlogn = crlog10(ecordn);
  double dlog1 = crlog10(ecord1);
  const double domlog = dlogn - dlog1;
  const double elelog = domlog / s.mesh.ne;
  s.mesh.ecoord(1) = ecord1;
  for (int ie = 1; ie <= s.mesh.ne; ++ie) {
    dlog1 = dlog1 + elelog;
    s.mesh.ecoord(ie + 1) = crpow(10.0, dlog1);
    s.mesh.elen(ie) = s.mesh.ecoord(ie + 1) - s.mesh.ecoord(ie);
  }
}

} // namespace

void meshgn(State &s) {
  std::string afil(200, ' ');
  // A check of the deck (--check) reads the files the run reads and makes
  // none of the files it would write (a file only read is never made).
  const auto openToWrite =
      s.opt.check ? &Unit::openDiscard : &Unit::openUnknown;
  if (s.codes.ioread == 1) {
    std::string reafil(200, ' ');
    s.io.deck.setSection("name of the restart file to read");
    readMain(s.io, kName, {ref(reafil)});
    s.io.deck.setSection("note record after the restart file name");
    readMain(s.io, kName, {ref(afil)});
    write(s.io.lst(), kReaEcho, {reafil});
    openOrFail(s.io.restartIn, reafil, "restart file to read",
               &Unit::openUnknownToRead);
  }
  if (s.codes.iowrit == 1) {
    std::string wrifil(200, ' ');
    s.io.deck.setSection("name of the restart file to write");
    readUnchecked(s.io.deck, kName, {ref(wrifil)});
    s.io.deck.setSection("note record after the restart file name");
    readUnchecked(s.io.deck, kName, {ref(afil)});
    write(s.io.lst(), kWriEcho, {wrifil});
    openOrFail(
        s.io.restartOut, wrifil, "restart file to write", openToWrite,
        {&s.io.deck, &s.io.lst(), &s.io.graphic, &s.io.flux, &s.io.velocity});
  }
  if (s.codes.iodarc > 0) {
    std::string darfil(200, ' ');
    s.io.deck.setSection("velocity file name");
    readUnchecked(s.io.deck, kName, {ref(darfil)});
    s.io.deck.setSection("note record after the velocity file name");
    readUnchecked(s.io.deck, kName, {ref(afil)});
    write(s.io.lst(), kDarEcho, {darfil});
    // A transport run only reads the velocity file: a missing one is told
    // as such and not created. A flow run writes it.
    openOrFail(
        s.io.velocity, darfil, "velocity file",
        s.codes.imode == 2 ? &Unit::openUnknownToRead : openToWrite,
        {&s.io.deck, &s.io.lst(), &s.io.graphic, &s.io.flux, &s.io.restartOut});
  }

  if (s.codes.imshgn == 1 || s.codes.imshgn == 2) {
    graded(s);
  } else if (s.codes.imshgn == 3) {
    logarithmic(s);
  } else {
    manual(s);
  }
  for (int ie = 1; ie <= s.mesh.ne; ++ie)
    s.mesh.xcoord(ie) = (s.mesh.ecoord(ie + 1) + s.mesh.ecoord(ie)) * 0.5;

  std::vector<Val> pairs;
  write(s.io.lst(), kNodeHead, {});
  for (int ip = 1; ip <= s.mesh.np; ++ip) {
    pairs.emplace_back(ip);
    pairs.emplace_back(s.mesh.ecoord(ip));
  }
  write(s.io.lst(), kPairs, pairs);
  pairs.clear();
  write(s.io.lst(), kElemHead, {});
  for (int ie = 1; ie <= s.mesh.ne; ++ie) {
    pairs.emplace_back(ie);
    pairs.emplace_back(s.mesh.elen(ie));
  }
  write(s.io.lst(), kPairs, pairs);
}

} // namespace qmr
