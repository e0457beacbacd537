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
  for (int ip = 1; ip <= s.np; ++ip) to.push_back(ref(s.ecoord(ip)));
  s.io.u5.setSection("node coordinates");
  readUnchecked(s.io.u5, kEightReals, to);
  plausibleCoordinates(s, s.io.u5.recno());
  for (int ie = 1; ie <= s.ne; ++ie)
    s.elen(ie) = s.ecoord(ie + 1) - s.ecoord(ie);
}

// Graded elements: the domain is divided uniformly in the coordinate raised
// to the power 1/scfact and mapped back; code 2 stores the lengths in
// reverse element order.
void graded(State &s) {
  double ecord1 = 0.0, ecordn = 0.0, scfact = 0.0;
  s.io.u5.setSection("graded mesh record");
  readUnchecked(s.io.u5, kEightReals, {ref(ecord1), ref(ecordn), ref(scfact)});
  plausibleGraded(s, ecord1, ecordn, scfact);
  write(s.io.lst(), kGradEcho, {ecord1, ecordn, scfact});
  double dstart = 0.0;
  const double scfinv = 1.0 / scfact;
  const double domlen = ecordn - ecord1;
  const double qthick = crpow(domlen, scfinv);
  const double qelen = qthick / s.ne;
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int io = s.ne - ie + 1;
    const double qielen = ie * qelen;
    const double dfinis = crpow(qielen, scfact);
    if (s.imshgn == 1) s.elen(ie) = dfinis - dstart;
    if (s.imshgn == 2) s.elen(io) = dfinis - dstart;
    dstart = dfinis;
  }
  s.ecoord(1) = ecord1;
  for (int ie = 1; ie <= s.ne; ++ie)
    s.ecoord(ie + 1) = s.ecoord(ie) + s.elen(ie);
}

// Logarithmic elements: node coordinates in geometric sequence, the
// logarithm advanced by repeated addition.
void logarithmic(State &s) {
  double ecord1 = 0.0, ecordn = 0.0;
  s.io.u5.setSection("logarithmic mesh record");
  readUnchecked(s.io.u5, kTwoRealsInt, {ref(ecord1), ref(ecordn)});
  plausibleLogarithmic(s, ecord1, ecordn);
  write(s.io.lst(), kLogEcho, {ecord1, ecordn});
  const double dlogn = crlog10(ecordn);
  double dlog1 = crlog10(ecord1);
  const double domlog = dlogn - dlog1;
  const double elelog = domlog / s.ne;
  s.ecoord(1) = ecord1;
  for (int ie = 1; ie <= s.ne; ++ie) {
    dlog1 = dlog1 + elelog;
    s.ecoord(ie + 1) = crpow(10.0, dlog1);
    s.elen(ie) = s.ecoord(ie + 1) - s.ecoord(ie);
  }
}

} // namespace

void meshgn(State &s) {
  std::string afil(200, ' ');
  // A check of the deck (--check) reads the files the run reads and makes
  // none of the files it would write (a file only read is never made).
  const auto openToWrite =
      s.opt.check ? &Unit::openDiscard : &Unit::openUnknown;
  if (s.ioread == 1) {
    std::string reafil(200, ' ');
    s.io.u5.setSection("name of the restart file to read");
    readMain(s, kName, {ref(reafil)});
    s.io.u5.setSection("note record after the restart file name");
    readMain(s, kName, {ref(afil)});
    write(s.io.lst(), kReaEcho, {reafil});
    openOrFail(s.io.u8, reafil, "restart file to read",
               &Unit::openUnknownToRead);
  }
  if (s.iowrit == 1) {
    std::string wrifil(200, ' ');
    s.io.u5.setSection("name of the restart file to write");
    readUnchecked(s.io.u5, kName, {ref(wrifil)});
    s.io.u5.setSection("note record after the restart file name");
    readUnchecked(s.io.u5, kName, {ref(afil)});
    write(s.io.lst(), kWriEcho, {wrifil});
    openOrFail(s.io.u9, wrifil, "restart file to write", openToWrite,
               {&s.io.u5, &s.io.lst(), &s.io.u7, &s.io.u4, &s.io.u10});
  }
  if (s.iodarc > 0) {
    std::string darfil(200, ' ');
    s.io.u5.setSection("velocity file name");
    readUnchecked(s.io.u5, kName, {ref(darfil)});
    s.io.u5.setSection("note record after the velocity file name");
    readUnchecked(s.io.u5, kName, {ref(afil)});
    write(s.io.lst(), kDarEcho, {darfil});
    // A transport run only reads the velocity file: a missing one is told
    // as such and not created. A flow run writes it.
    openOrFail(s.io.u10, darfil, "velocity file",
               s.imode == 2 ? &Unit::openUnknownToRead : openToWrite,
               {&s.io.u5, &s.io.lst(), &s.io.u7, &s.io.u4, &s.io.u9});
  }

  if (s.imshgn == 1 || s.imshgn == 2) {
    graded(s);
  } else if (s.imshgn == 3) {
    logarithmic(s);
  } else {
    manual(s);
  }
  for (int ie = 1; ie <= s.ne; ++ie)
    s.xcoord(ie) = (s.ecoord(ie + 1) + s.ecoord(ie)) * 0.5;

  std::vector<Val> pairs;
  write(s.io.lst(), kNodeHead, {});
  for (int ip = 1; ip <= s.np; ++ip) {
    pairs.emplace_back(ip);
    pairs.emplace_back(s.ecoord(ip));
  }
  write(s.io.lst(), kPairs, pairs);
  pairs.clear();
  write(s.io.lst(), kElemHead, {});
  for (int ie = 1; ie <= s.ne; ++ie) {
    pairs.emplace_back(ie);
    pairs.emplace_back(s.elen(ie));
  }
  write(s.io.lst(), kPairs, pairs);
}

} // namespace qmr
