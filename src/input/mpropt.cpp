// Transport material properties: the media, their assignment to the
// elements (per element, by zones, or interpolated between control nodes),
// and the porosity times the aquifer width.
#include <cmath>
#include <vector>

#include "input/check.hpp"
#include "input/input.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "run/run.hpp"

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

void slots(const State &s, int imat, double v[8]) {
  for (int k = 1; k <= 8; ++k) v[k - 1] = s.prop(k, imat);
}

// Medium or zone numbers, ahead of the media: one record per number, so no
// record at all when there is no number to read.
void readNumbers(State &s) {
  std::vector<Ref> to;
  if (s.ipcode == 0) {
    for (int ie = 1; ie <= s.ne; ++ie) to.push_back(ref(s.lmat(ie)));
    if (to.empty()) return;
    if (readChecked(s.io.u5, kOneInt, to) != 0) error5(s);
    checkMedia(s, s.io.u5.recno());
    return;
  }
  for (int imat = 1; imat <= s.nmat; ++imat) to.push_back(ref(s.lmat(imat)));
  if (!to.empty()) readUnchecked(s.io.u5, kOneInt, to);
  if (s.ipcode == 1 || s.ipcode == 2) checkZones(s, s.io.u5.recno());
  if (s.nmat + 1 >= 1) s.lmat(s.nmat + 1) = s.np;
}

void readMedia(State &s) {
  for (int imat = 1; imat <= s.nmat; ++imat) {
    write(s.io.lst(), kMediumHead, {imat});
    double eldu = 0.0;
    readUnchecked(s.io.u5, kNineReals,
                  {ref(s.ealfal), ref(s.edifus), ref(s.eporos), ref(s.eretar),
                   ref(s.edecay), ref(s.ecrech), ref(s.ecleak), ref(s.elwide),
                   ref(eldu)});
    if (std::abs(s.elwide) <= kTiny) s.elwide = 1.0;
    if (std::abs(s.eretar) <= kTiny) s.eretar = 1.0;
    const double v[8] = {s.ealfal, s.edifus, s.eporos, s.eretar,
                         s.edecay, s.ecrech, s.ecleak, s.elwide};
    write(s.io.lst(), kMedEcho,
          {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
    for (int k = 1; k <= 8; ++k) s.prop(k, imat) = v[k - 1];
  }
}

void assignElements(State &s) {
  double v[8];
  if (s.ipcode == 0) {
    for (int ie = 1; ie <= s.ne; ++ie) {
      slots(s, s.lmat(ie), v);
      assign(s, ie, v);
    }
  } else if (s.ipcode == 1) {
    for (int imat = 1; imat <= s.nmat; ++imat) {
      const int l1 = s.lmat(imat);
      const int l2 = s.lmat(imat + 1) - 1;
      slots(s, imat, v);
      for (int le = l1; le <= l2; ++le) assign(s, le, v);
    }
  } else if (s.ipcode == 2) {
    double e1[8], e2[8];
    for (int imat = 1; imat <= s.nmat - 1; ++imat) {
      const int imt1 = imat;
      const int imt2 = imat + 1;
      slots(s, imt1, e1);
      slots(s, imt2, e2);
      const int l1 = s.lmat(imt1);
      const int l2 = s.lmat(imt2) - 1;
      const int l3 = l2 + 1;
      const double x1 = s.ecoord(l1);
      const double dx = s.ecoord(l3) - x1;
      for (int le = l1; le <= l2; ++le) {
        const double xe = s.xcoord(le);
        const double xf = (xe - x1) / dx;
        for (int k = 0; k < 8; ++k) v[k] = e2[k] * xf + (1.0 - xf) * e1[k];
        assign(s, le, v);
      }
    }
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
  readNumbers(s);
  readMedia(s);
  assignElements(s);
  elementPass(s);
}

} // namespace qmr
