// Checks of main-input values that are later used as array indices (node,
// medium and zone numbers). A value outside its range ends the run with a
// diagnostic naming the record, so no routine ever indexes outside an array.
#pragma once

#include <string>
#include <string_view>

#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// "main input record 23: prescribed value node 0 is outside 1..11"
inline std::string outsideText(long rec, std::string_view what, int value,
                               int lo, int hi) {
  std::string t("main input record ");
  t.append(std::to_string(rec)).append(": ").append(what).append(" ");
  t.append(std::to_string(value)).append(" is outside ");
  t.append(std::to_string(lo)).append("..").append(std::to_string(hi));
  return t;
}

// Ends the run unless lo <= value <= hi; `rec` is the main-input record that
// carried the value.
inline void checkRange(Files &io, long rec, std::string_view what, int value,
                       int lo, int hi) {
  if (value < lo || value > hi)
    badInput(io, outsideText(rec, what, value, lo, hi), rec);
}

// A node number read from record `rec` of the main input must lie in 1..np.
inline void checkNode(Files &io, const Mesh &mesh, long rec,
                      std::string_view what, int node) {
  checkRange(io, rec, what, node, 1, mesh.np);
}

// Zone start numbers lmat(1..nmat), read one per record ending with record
// `last`: each in 1..np and each greater than the one before.
inline void checkZones(Files &io, const Mesh &mesh, const Media &media,
                       long last) {
  for (int imat = 1; imat <= media.nmat; ++imat) {
    const long rec = last - media.nmat + imat;
    checkNode(io, mesh, rec, "zone start", media.lmat(imat));
    if (imat > 1 && media.lmat(imat) <= media.lmat(imat - 1))
      badInput(io,
               "main input record " + std::to_string(rec) + ": zone start " +
                   std::to_string(media.lmat(imat)) + " of medium " +
                   std::to_string(imat) + " does not follow the start " +
                   std::to_string(media.lmat(imat - 1)) + " of medium " +
                   std::to_string(imat - 1),
               rec);
  }
}

// Medium numbers lmat(1..ne), read one per record ending with record `last`:
// each in 1..nmat.
inline void checkMedia(Files &io, const Mesh &mesh, const Media &media,
                       long last) {
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    if (media.lmat(ie) >= 1 && media.lmat(ie) <= media.nmat) continue;
    badInput(io,
             "main input record " + std::to_string(last - mesh.ne + ie) +
                 ": medium number " + std::to_string(media.lmat(ie)) +
                 " of element " + std::to_string(ie) + " is outside 1.." +
                 std::to_string(media.nmat),
             last - mesh.ne + ie);
  }
}

} // namespace qmr
