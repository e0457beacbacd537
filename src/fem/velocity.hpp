// One element record of the velocity file, as the transport run reads it
// before the first step or before every step.
#pragma once

#include <charconv>
#include <string>

#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "layout/warn.hpp"
#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// Reads the next record into the work values edarcy, ethick, eqleak and
// eqrech; a missing or malformed record ends the run with the velocity-file
// failure. Returns the element number the record carries.
inline int readVelocity(State &s) {
  int iei = 0;
  if (readChecked(s.io.u10, kVelocityRecord,
                  {ref(iei), ref(s.edarcy), ref(s.ethick), ref(s.eqleak),
                   ref(s.eqrech)}) != 0)
    error10(s);
  return iei;
}

// After a block of ne records: a next record that carries element ne + 1
// means the file was written for a longer mesh than this run's, and the
// first ne elements' values are taken for a mesh they were not made for.
inline void checkBlockEnd(State &s) {
  std::string rec;
  if (!s.io.u10.peek(rec)) return;
  int iei = 0;
  std::size_t i = 0;
  while (i < rec.size() && i < 5 && rec[i] == ' ') ++i;
  const char *end = rec.data() + (rec.size() < 5 ? rec.size() : 5);
  if (std::from_chars(rec.data() + i, end, iei).ec != std::errc() ||
      iei != s.ne + 1 || !s.io.u10.tellOnce())
    return;
  warn(s.io.u10, s.io.u10.recno() + 1, 1, 5,
       "element " + std::to_string(iei) + " follows the block of " +
           std::to_string(s.ne) +
           " elements: the file was written by a run with more elements "
           "than this mesh, and its first " +
           std::to_string(s.ne) + " are taken for this mesh's elements");
}

// Stores the work values for element ie; negative leakage and recharge
// rates count as none.
inline void takeVelocity(State &s, int ie) {
  if (s.eqleak < 0.0) s.eqleak = 0.0;
  if (s.eqrech < 0.0) s.eqrech = 0.0;
  s.darcy(ie) = s.edarcy;
  s.thick(ie) = s.ethick;
  s.qleak(ie) = s.eqleak;
  s.qrech(ie) = s.eqrech;
}

} // namespace qmr
