// Helpers shared by the tests of the model-definition input.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "stop/stop.hpp"
#include "support.hpp"

namespace inputtest {

// A state with the deck as main input and the counts the control data would
// have set for a mesh of `ne` elements.
inline std::unique_ptr<qmr::State> withMesh(const std::string &deck, int ne) {
  auto s = qmrtest::memState(deck);
  s->mesh.ne = ne;
  s->mesh.np = ne + 1;
  s->mesh.ndofn = 1;
  s->mesh.nd = s->mesh.np;
  return s;
}

// Uniform mesh of unit elements from coordinate 0, as the mesh input leaves
// it, for the routines that read coordinates.
inline void unitMesh(qmr::State &s) {
  for (int ip = 1; ip <= s.mesh.np; ++ip) s.mesh.ecoord(ip) = ip - 1;
  for (int ie = 1; ie <= s.mesh.ne; ++ie) {
    s.mesh.elen(ie) = 1.0;
    s.mesh.xcoord(ie) = ie - 0.5;
  }
}

using qmrtest::stopStatus;
using qmrtest::times;

inline std::vector<std::string> listing(const qmr::State &s) {
  return qmrtest::lines(s.io.listing.text());
}

inline std::string lastLine(const qmr::State &s) {
  auto l = listing(s);
  return l.empty() ? std::string() : l.back();
}

// The next record of the main input, or "<eof>": shows what a routine left
// unread.
inline std::string nextRecord(qmr::State &s) {
  std::string rec;
  return s.io.deck.next(rec) ? rec : std::string("<eof>");
}

inline const char *kMainFail = " ****ERROR OR END OF FILE ON MAIN INPUT****";

} // namespace inputtest
