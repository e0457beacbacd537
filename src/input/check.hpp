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
inline void checkRange(State &s, long rec, std::string_view what, int value,
                       int lo, int hi) {
  if (value < lo || value > hi)
    badInput(s, outsideText(rec, what, value, lo, hi), rec);
}

// A node number read from record `rec` of the main input must lie in 1..np.
inline void checkNode(State &s, long rec, std::string_view what, int node) {
  checkRange(s, rec, what, node, 1, s.np);
}

// Zone start numbers lmat(1..nmat), read one per record ending with record
// `last`: each in 1..np and each greater than the one before.
inline void checkZones(State &s, long last) {
  for (int imat = 1; imat <= s.nmat; ++imat) {
    const long rec = last - s.nmat + imat;
    checkNode(s, rec, "zone start", s.lmat(imat));
    if (imat > 1 && s.lmat(imat) <= s.lmat(imat - 1))
      badInput(s,
               "main input record " + std::to_string(rec) + ": zone start " +
                   std::to_string(s.lmat(imat)) + " of medium " +
                   std::to_string(imat) + " does not follow the start " +
                   std::to_string(s.lmat(imat - 1)) + " of medium " +
                   std::to_string(imat - 1),
               rec);
  }
}

// Medium numbers lmat(1..ne), read one per record ending with record `last`:
// each in 1..nmat.
inline void checkMedia(State &s, long last) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    if (s.lmat(ie) >= 1 && s.lmat(ie) <= s.nmat) continue;
    badInput(s,
             "main input record " + std::to_string(last - s.ne + ie) +
                 ": medium number " + std::to_string(s.lmat(ie)) +
                 " of element " + std::to_string(ie) + " is outside 1.." +
                 std::to_string(s.nmat),
             last - s.ne + ie);
  }
}

} // namespace qmr
