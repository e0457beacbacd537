// What the flow and transport material properties share: the medium or zone
// numbers ahead of the media, and the three ways of giving every element the
// values of the media (per element, by zones, or interpolated between
// control nodes). The two readers differ in their slots and arrays only.
#pragma once

#include <vector>

#include "input/check.hpp"
#include "io/layout.hpp"
#include "io/records.hpp"
#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// Medium or zone numbers: one read, one record per number; like every read
// it takes one record even when there is no number to read. With ipcode 0
// the end of the file ends the run with the main-input failure; `checked`
// sends a malformed field there too (transport), otherwise it is the record
// reader's own report (flow).
inline void readMediumNumbers(Files &io, const Codes &codes, const Mesh &mesh,
                              Media &media, bool checked) {
  std::vector<Ref> to;
  io.deck.setSection(codes.ipcode == 0 ? "medium numbers of the elements"
                                       : "zone or control node numbers");
  if (codes.ipcode == 0) {
    for (int ie = 1; ie <= mesh.ne; ++ie) to.push_back(ref(media.lmat(ie)));
    const int st = checked ? readChecked(io.deck, kOneInt, to)
                           : readEofOnly(io.deck, kOneInt, to);
    if (st != 0) error5(io);
    checkMedia(io, mesh, media, io.deck.recno());
    return;
  }
  for (int imat = 1; imat <= media.nmat; ++imat)
    to.push_back(ref(media.lmat(imat)));
  readUnchecked(io.deck, kOneInt, to);
  if (codes.ipcode == 1 || codes.ipcode == 2)
    checkZones(io, mesh, media, io.deck.recno());
  media.lmat(media.nmat + 1) = mesh.np;
}

// Gives the elements the N slot values of the media, by the scheme of
// ipcode; assign(le, v) stores the values v[0..N-1] for element le.
template <int N, class Assign>
void assignMedia(const Codes &codes, const Mesh &mesh, const Media &media,
                 Assign assign) {
  double v[N];
  auto slots = [&media](int imat, double *to) {
    for (int k = 1; k <= N; ++k) to[k - 1] = media.prop(k, imat);
  };
  if (codes.ipcode == 0) {
    for (int ie = 1; ie <= mesh.ne; ++ie) {
      slots(media.lmat(ie), v);
      assign(ie, v);
    }
  } else if (codes.ipcode == 1) {
    for (int imat = 1; imat <= media.nmat; ++imat) {
      const int l1 = media.lmat(imat);
      const int l2 = media.lmat(imat + 1) - 1;
      slots(imat, v);
      for (int le = l1; le <= l2; ++le) assign(le, v);
    }
  } else if (codes.ipcode == 2) {
    double e1[N], e2[N];
    for (int imat = 1; imat <= media.nmat - 1; ++imat) {
      const int imt1 = imat;
      const int imt2 = imat + 1;
      slots(imt1, e1);
      slots(imt2, e2);
      const int l1 = media.lmat(imt1);
      const int l2 = media.lmat(imt2) - 1;
      const int l3 = l2 + 1;
      const double x1 = mesh.ecoord(l1);
      const double dx = mesh.ecoord(l3) - x1;
      for (int le = l1; le <= l2; ++le) {
        const double xe = mesh.xcoord(le);
        const double xf = (xe - x1) / dx;
        for (int k = 0; k < N; ++k) v[k] = e2[k] * xf + (1.0 - xf) * e1[k];
        assign(le, v);
      }
    }
  }
}

} // namespace qmr
