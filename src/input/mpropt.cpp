// Transport material properties: the media, their assignment to the
// elements (per element, by zones, or interpolated between control nodes),
// and the porosity times the aquifer width.
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
const Layout kMedEcho("(/,'  EFFECTIVE LONGITUDINAL DISPERSIVITY        = ',E12.5,/,'  EFFECTIVE DIFFUSION COEFFICIENT            = ',E12.5,/,'  EFFECTIVE POROSITY                         = ',E12.5,/,'  RETARDATION FACTOR                         = ',E12.5,/,'  DECAY COEFFICIENT                          = ',E12.5,/,'  CONCENTRATION OF SURFACE RECHARGE          = ',E12.5,/,'  CONCENTRATION OF FLUID IN LEAKY AQUITARD   = ',E12.5,/,'  AQUIFER WIDTH                              = ',E12.5,/)");
const Layout kElement("(8E10.4)");
// clang-format on

const double kTiny = static_cast<double>(1.0E-10F); // zero width, retardation

void readMedia(Files &io, const ParameterValues &values, Media &media) {
  for (int imat = 1; imat <= media.nmat; ++imat) {
    write(io.lst(), kMediumHead, {imat});
    double ealfal = 0.0, edifus = 0.0, eporos = 0.0, eretar = 0.0;
    double edecay = 0.0, ecrech = 0.0, ecleak = 0.0, elwide = 0.0;
    double eldu = 0.0;
    io.deck.setSection("medium record of medium " + std::to_string(imat));
    readUnchecked(io.deck, kNineReals,
                  {ref(ealfal), ref(edifus), ref(eporos), ref(eretar),
                   ref(edecay), ref(ecrech), ref(ecleak), ref(elwide),
                   ref(eldu)});
    double *slots[8] = {&ealfal, &edifus, &eporos, &eretar,
                        &edecay, &ecrech, &ecleak, &elwide};
    setFromCommandLine(values, kTransportRun, imat, slots);
    plausibleTransportMedium(io, ealfal, edifus, eporos, eretar, edecay,
                             elwide);
    if (std::abs(elwide) <= kTiny) {
      elwide = 1.0;
      media.standsForOne.push_back({imat, 8});
    }
    if (std::abs(eretar) <= kTiny) {
      eretar = 1.0;
      media.standsForOne.push_back({imat, 4});
    }
    const double v[8] = {ealfal, edifus, eporos, eretar,
                         edecay, ecrech, ecleak, elwide};
    write(io.lst(), kMedEcho, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
    for (int k = 1; k <= 8; ++k) media.prop(k, imat) = v[k - 1];
  }
}

// The element values in the listing.
void elementEcho(Files &io, const Mesh &mesh,
                 const FlowProperties<double> &fprop,
                 const TransportProperties<double> &tprop) {
  for (int ie = 1; ie <= mesh.ne; ++ie)
    write(io.lst(), kElement,
          {tprop.alfal(ie), tprop.difus(ie), tprop.poros(ie), tprop.retar(ie),
           tprop.decay(ie), tprop.crech(ie), tprop.cleak(ie), fprop.ewide(ie)});
}

} // namespace

void mpropt(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Media &media, FlowProperties<double> &fprop,
            TransportProperties<double> &tprop) {
  readMediumNumbers(io, codes, mesh, media, true);
  readMedia(io, values, media);
  assignMedia<8>(codes, mesh, media, media.prop, [&](int le, const double *v) {
    assignTransport(tprop, fprop, le, v);
  });
  scaleTransportElements(mesh, fprop, tprop);
  elementEcho(io, mesh, fprop, tprop);
}

} // namespace qmr
