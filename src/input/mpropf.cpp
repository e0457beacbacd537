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
const double kTiny = static_cast<double>(1.0E-10F);     // zero width
const double kThin = static_cast<double>(1.0E-9F);      // zero thickness

void readMedia(Files &io, const ParameterValues &values, const Codes &codes,
               Media &media, FlowProperties<double> &fprop) {
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
    double *slots[9] = {&eltran, &elspec, &elstor, &elbott, &elqrch,
                        &elleak, &elhfix, &elwide, &elqmax};
    setFromCommandLine(values, kFlowRun, imat, slots);
    plausibleFlowMedium(io, codes, eltran, elspec, elstor, elbott, elwide);
    if (elqmax > kQmaxUsed) fprop.ilqmax = 1;
    if (std::abs(elwide) <= kTiny) {
      elwide = 1.0;
      media.standsForOne.push_back({imat, 8});
    }
    if (codes.i2dwt == 0 && std::abs(elbott) <= kThin) {
      elbott = 1.0;
      media.standsForOne.push_back({imat, 4});
    }
    write(io.lst(), kMedEcho,
          {eltran, elspec, elstor, elbott, elqrch, elleak, elhfix, elqmax,
           elwide});
    const double v[9] = {eltran, elspec, elstor, elbott, elqrch,
                         elleak, elhfix, elwide, elqmax};
    for (int k = 1; k <= 9; ++k) media.prop(k, imat) = v[k - 1];
  }
}

// The element values per metre of valley in the listing.
void elementEcho(Files &io, const Mesh &mesh, const FlowProperties<double> &p) {
  for (int ie = 1; ie <= mesh.ne; ++ie)
    write(io.lst(), kElement,
          {p.etran(ie), p.espec(ie), p.estor(ie), p.ebott(ie), p.eqrch(ie),
           p.eleak(ie), p.ehfix(ie), p.ewide(ie), p.eqmax(ie)});
}

} // namespace

void mpropf(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Media &media, FlowProperties<double> &fprop) {
  readMediumNumbers(io, codes, mesh, media, false);
  readMedia(io, values, codes, media, fprop);
  assignMedia<9>(
      codes, mesh, media, media.prop,
      [&fprop](int le, const double *v) { assignFlow(fprop, le, v); });
  scaleFlowElements(mesh, fprop);
  elementEcho(io, mesh, fprop);
}

} // namespace qmr
