// Flow material properties: the media, their assignment to the elements
// (per element, by zones, or interpolated between control nodes), and the
// extensive values turned into values per unit length of valley.
#include <cmath>

#include "input/input.hpp"
#include "input/media.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
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
void assign(FlowProperties<double> &p, int le, const double v[9]) {
  p.etran(le) = v[0];
  p.espec(le) = v[1];
  p.estor(le) = v[2];
  p.ebott(le) = v[3];
  p.eqrch(le) = v[4];
  p.eleak(le) = v[5];
  p.ehfix(le) = v[6];
  p.ewide(le) = v[7];
  p.eqmax(le) = v[8];
}

void readMedia(Files &io, const Codes &codes, Media &media,
               FlowProperties<double> &fprop) {
  fprop.ilqmax = 0;
  for (int imat = 1; imat <= media.nmat; ++imat) {
    write(io.lst(), kMediumHead, {imat});
    double eltran = 0.0, elspec = 0.0, elstor = 0.0, elbott = 0.0;
    double elqrch = 0.0, elleak = 0.0, elhfix = 0.0, elwide = 0.0;
    double elqmax = 0.0;
    io.deck.setSection("medium record of medium " + std::to_string(imat));
    readUnchecked(io.deck, kNineReals,
                  {ref(eltran), ref(elspec), ref(elstor), ref(elbott),
                   ref(elqrch), ref(elleak), ref(elhfix), ref(elwide),
                   ref(elqmax)});
    plausibleFlowMedium(io, codes, eltran, elspec, elstor, elbott, elwide);
    if (elqmax > kQmaxUsed) fprop.ilqmax = 1;
    if (std::abs(elwide) <= kTiny) elwide = 1.0;
    if (codes.i2dwt == 0 && std::abs(elbott) <= kThin) elbott = 1.0;
    write(io.lst(), kMedEcho,
          {eltran, elspec, elstor, elbott, elqrch, elleak, elhfix, elqmax,
           elwide});
    const double v[9] = {eltran, elspec, elstor, elbott, elqrch,
                         elleak, elhfix, elwide, elqmax};
    for (int k = 1; k <= 9; ++k) media.prop(k, imat) = v[k - 1];
  }
}

// Leakage limit per element, then the extensive values times the width.
void elementPass(Files &io, const Mesh &mesh, FlowProperties<double> &fprop) {
  FlowProperties<double> &p = fprop;
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    p.iqmax(ie) = 0;
    if (p.eqmax(ie) > kTiny) p.iqmax(ie) = 1;
    if (p.eqmax(ie) < kTiny) p.eqmax(ie) = p.etran(ie);
    const double elwide = p.ewide(ie);
    p.etran(ie) = p.etran(ie) * elwide;
    p.espec(ie) = p.espec(ie) * elwide;
    p.estor(ie) = p.estor(ie) * elwide;
    p.eqrch(ie) = p.eqrch(ie) * elwide;
    p.eleak(ie) = p.eleak(ie) * elwide;
    p.eqmax(ie) = p.eqmax(ie) * elwide;
    write(io.lst(), kElement,
          {p.etran(ie), p.espec(ie), p.estor(ie), p.ebott(ie), p.eqrch(ie),
           p.eleak(ie), p.ehfix(ie), p.ewide(ie), p.eqmax(ie)});
  }
}

} // namespace

void mpropf(Files &io, const Codes &codes, const Mesh &mesh, Media &media,
            FlowProperties<double> &fprop) {
  readMediumNumbers(io, codes, mesh, media, false);
  readMedia(io, codes, media, fprop);
  assignMedia<9>(codes, mesh, media,
                 [&fprop](int le, const double *v) { assign(fprop, le, v); });
  elementPass(io, mesh, fprop);
}

} // namespace qmr
