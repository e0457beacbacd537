// One element record of the velocity file, as the transport run reads it
// before the first step or before every step.
#pragma once

#include <charconv>
#include <string>

#include "io/layout.hpp"
#include "io/records.hpp"
#include "io/warn.hpp"
#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// The values of one record: element number, Darcy velocity × width,
// saturated thickness, leakage and recharge rates per metre of valley.
struct VelocityRecord {
  int iei = 0;
  double edarcy = 0.0;
  double ethick = 0.0;
  double eqleak = 0.0;
  double eqrech = 0.0;
};

// Reads the next record; a missing or malformed record ends the run with the
// velocity-file failure.
inline VelocityRecord readVelocity(Files &io) {
  VelocityRecord r;
  if (readChecked(io.velocity, kVelocityRecord,
                  {ref(r.iei), ref(r.edarcy), ref(r.ethick), ref(r.eqleak),
                   ref(r.eqrech)}) != 0)
    error10(io);
  return r;
}

// After a block of ne records: a next record that carries element ne + 1
// means the file was written for a longer mesh than this run's, and the
// first ne elements' values are taken for a mesh they were not made for.
inline void checkBlockEnd(Files &io, int ne) {
  std::string rec;
  if (!io.velocity.peek(rec)) return;
  int iei = 0;
  std::size_t i = 0;
  while (i < rec.size() && i < 5 && rec[i] == ' ') ++i;
  const char *end = rec.data() + (rec.size() < 5 ? rec.size() : 5);
  if (std::from_chars(rec.data() + i, end, iei).ec != std::errc() ||
      iei != ne + 1 || !io.velocity.tellOnce())
    return;
  warn(io.velocity, io.velocity.recno() + 1, 1, 5,
       "element " + std::to_string(iei) + " follows the block of " +
           std::to_string(ne) +
           " elements: the file was written by a run with more elements "
           "than this mesh, and its first " +
           std::to_string(ne) + " are taken for this mesh's elements");
}

// Stores the values of a record for element ie; negative leakage and
// recharge rates count as none.
inline void takeVelocity(TransportProperties<double> &tprop, int ie,
                         VelocityRecord r) {
  if (r.eqleak < 0.0) r.eqleak = 0.0;
  if (r.eqrech < 0.0) r.eqrech = 0.0;
  tprop.darcy(ie) = r.edarcy;
  tprop.thick(ie) = r.ethick;
  tprop.qleak(ie) = r.eqleak;
  tprop.qrech(ie) = r.eqrech;
}

} // namespace qmr
