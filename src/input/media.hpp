// What the flow and transport material properties share: the medium or zone
// numbers ahead of the media, and the three ways of giving every element the
// values of the media (per element, by zones, or interpolated between
// control nodes). The two readers differ in their slots and arrays only.
#pragma once

#include <vector>

#include "input/check.hpp"
#include "input/spread.hpp"
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

// A medium record's values given on the command line (--set, --parameters)
// take the place of the deck's as soon as the record is read.
template <int N>
void setFromCommandLine(const ParameterValues &values, int imode, int imat,
                        double *(&slots)[N]) {
  for (int k = 1; k <= N; ++k)
    if (const auto v = values.medium(imat, k, imode)) *slots[k - 1] = *v;
}

} // namespace qmr
