// Flow material properties: the media, their assignment to the elements
// (per element, by zones, or interpolated between control nodes), and the
// extensive values turned into values per unit length of valley.
#include <cmath>

#include "input/input.hpp"
#include "input/media.hpp"
#include "input/plausible.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {
namespace {

// clang-format off
const Layout kMedEcho("(/,'  HYDRAULIC CONDUCTIVITY          = ',E12.5,/,'  SPECIFIC STORAGE                = ',E12.5,/,'  STORAGE COEFFICIENT             = ',E12.5,/,'  AQUIFER THICKNESS/BASE ELEV.    = ',E12.5,/,'  DISTRIBUTED RECHARGE            = ',E12.5,/,'  AQUITARD LEAKAGE COEFFICIENT    = ',E12.5,/,'  FIXED HEAD BEYOND AQUITARD      = ',E12.5,/,'  MAXIMUM LEAKAGE RATE            = ',E12.5,/,'  AQUIFER WIDTH                   = ',E12.5,/)");
const Layout kElement("(9E10.4)");
// clang-format on

const double kQmaxUsed = static_cast<double>(1.0E-15F); // a medium limits
const double kTiny = static_cast<double>(1.0E-10F);     // zero width, eqmax
const double kThin = static_cast<double>(1.0E-9F);      // zero thickness

// The nine per-element values of element le taken from slots 1..9.
void assign(State &s, int le, const double v[9]) {
  s.etran(le) = v[0];
  s.espec(le) = v[1];
  s.estor(le) = v[2];
  s.ebott(le) = v[3];
  s.eqrch(le) = v[4];
  s.eleak(le) = v[5];
  s.ehfix(le) = v[6];
  s.ewide(le) = v[7];
  s.eqmax(le) = v[8];
}

void readMedia(State &s) {
  s.ilqmax = 0;
  for (int imat = 1; imat <= s.nmat; ++imat) {
    write(s.io.lst(), kMediumHead, {imat});
    double elspec = 0.0;
    s.io.u5.setSection("medium record of medium " + std::to_string(imat));
    readUnchecked(s.io.u5, kNineReals,
                  {ref(s.eltran), ref(elspec), ref(s.elstor), ref(s.elbott),
                   ref(s.elqrch), ref(s.elleak), ref(s.elhfix), ref(s.elwide),
                   ref(s.elqmax)});
    plausibleFlowMedium(s, s.eltran, elspec, s.elstor, s.elbott, s.elwide);
    if (s.elqmax > kQmaxUsed) s.ilqmax = 1;
    if (std::abs(s.elwide) <= kTiny) s.elwide = 1.0;
    if (s.i2dwt == 0 && std::abs(s.elbott) <= kThin) s.elbott = 1.0;
    write(s.io.lst(), kMedEcho,
          {s.eltran, elspec, s.elstor, s.elbott, s.elqrch, s.elleak, s.elhfix,
           s.elqmax, s.elwide});
    const double v[9] = {s.eltran, elspec,   s.elstor, s.elbott, s.elqrch,
                         s.elleak, s.elhfix, s.elwide, s.elqmax};
    for (int k = 1; k <= 9; ++k) s.prop(k, imat) = v[k - 1];
  }
}

// Leakage limit per element, then the extensive values times the width.
void elementPass(State &s) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    s.iqmax(ie) = 0;
    if (s.eqmax(ie) > kTiny) s.iqmax(ie) = 1;
    if (s.eqmax(ie) < kTiny) s.eqmax(ie) = s.etran(ie);
    s.elwide = s.ewide(ie);
    s.etran(ie) = s.etran(ie) * s.elwide;
    s.espec(ie) = s.espec(ie) * s.elwide;
    s.estor(ie) = s.estor(ie) * s.elwide;
    s.eqrch(ie) = s.eqrch(ie) * s.elwide;
    s.eleak(ie) = s.eleak(ie) * s.elwide;
    s.eqmax(ie) = s.eqmax(ie) * s.elwide;
    write(s.io.lst(), kElement,
          {s.etran(ie), s.espec(ie), s.estor(ie), s.ebott(ie), s.eqrch(ie),
           s.eleak(ie), s.ehfix(ie), s.ewide(ie), s.eqmax(ie)});
  }
}

} // namespace

void mpropf(State &s) {
  readMediumNumbers(s, false);
  readMedia(s);
  assignMedia<9>(s, assign);
  elementPass(s);
}

} // namespace qmr
