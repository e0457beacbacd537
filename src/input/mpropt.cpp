// Transport material properties: the media, their assignment to the
// elements (per element, by zones, or interpolated between control nodes),
// and the porosity times the aquifer width.
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
const Layout kMedEcho("(/,'  EFFECTIVE LONGITUDINAL DISPERSIVITY        = ',E12.5,/,'  EFFECTIVE DIFFUSION COEFFICIENT            = ',E12.5,/,'  EFFECTIVE POROSITY                         = ',E12.5,/,'  RETARDATION FACTOR                         = ',E12.5,/,'  DECAY COEFFICIENT                          = ',E12.5,/,'  CONCENTRATION OF SURFACE RECHARGE          = ',E12.5,/,'  CONCENTRATION OF FLUID IN LEAKY AQUITARD   = ',E12.5,/,'  AQUIFER WIDTH                              = ',E12.5,/)");
const Layout kElement("(8E10.4)");
// clang-format on

const double kTiny = static_cast<double>(1.0E-10F); // zero width, retardation

// The eight per-element values of element le taken from slots 1..8.
void assign(State &s, int le, const double v[8]) {
  s.alfal(le) = v[0];
  s.difus(le) = v[1];
  s.poros(le) = v[2];
  s.retar(le) = v[3];
  s.decay(le) = v[4];
  s.crech(le) = v[5];
  s.cleak(le) = v[6];
  s.ewide(le) = v[7];
}

void readMedia(State &s) {
  for (int imat = 1; imat <= s.nmat; ++imat) {
    write(s.io.lst(), kMediumHead, {imat});
    double eldu = 0.0;
    s.io.u5.setSection("medium record of medium " + std::to_string(imat));
    readUnchecked(s.io.u5, kNineReals,
                  {ref(s.ealfal), ref(s.edifus), ref(s.eporos), ref(s.eretar),
                   ref(s.edecay), ref(s.ecrech), ref(s.ecleak), ref(s.elwide),
                   ref(eldu)});
    plausibleTransportMedium(s, s.ealfal, s.edifus, s.eporos, s.eretar,
                             s.edecay, s.elwide);
    if (std::abs(s.elwide) <= kTiny) s.elwide = 1.0;
    if (std::abs(s.eretar) <= kTiny) s.eretar = 1.0;
    const double v[8] = {s.ealfal, s.edifus, s.eporos, s.eretar,
                         s.edecay, s.ecrech, s.ecleak, s.elwide};
    write(s.io.lst(), kMedEcho,
          {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
    for (int k = 1; k <= 8; ++k) s.prop(k, imat) = v[k - 1];
  }
}

void elementPass(State &s) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    s.poros(ie) = s.poros(ie) * s.ewide(ie);
    write(s.io.lst(), kElement,
          {s.alfal(ie), s.difus(ie), s.poros(ie), s.retar(ie), s.decay(ie),
           s.crech(ie), s.cleak(ie), s.ewide(ie)});
  }
}

} // namespace

void mpropt(State &s) {
  readMediumNumbers(s, true);
  readMedia(s);
  assignMedia<8>(s, assign);
  elementPass(s);
}

} // namespace qmr
