// The banded global system as the element routines and the step drivers
// touch it: the band columns around the diagonal, and the addition of one
// element's two equations.
#pragma once

#include "state/state.hpp"

namespace qmr {

// Band columns left and right of the diagonal, set at the start of every
// flow or transport step (only im01 and ip01 are read).
inline void setBandColumns(State &s) {
  s.im04 = s.ihbp - 4;
  s.im03 = s.ihbp - 3;
  s.im02 = s.ihbp - 2;
  s.im01 = s.ihbp - 1;
  s.ip01 = s.ihbp + 1;
  s.ip02 = s.ihbp + 2;
  s.ip03 = s.ihbp + 3;
  s.ip04 = s.ihbp + 4;
}

// Adds the equations of element ie (rows n01 and n02). Each off-diagonal
// position belongs to one element only, so it is set; the diagonal and the
// right-hand side collect the contributions of both adjoining elements.
inline void addElement(State &s, int ie, double alhs11, double alhs12,
                       double alhs21, double alhs22, double arhsv1,
                       double arhsv2) {
  const int n01 = (ie - 1) * s.ndofn + 1;
  const int n02 = n01 + 1;
  s.astif(n01, s.ihbp) = s.astif(n01, s.ihbp) + alhs11;
  s.astif(n01, s.ip01) = alhs12;
  s.astif(n02, s.im01) = alhs21;
  s.astif(n02, s.ihbp) = s.astif(n02, s.ihbp) + alhs22;
  s.aslod(n01) = s.aslod(n01) + arhsv1;
  s.aslod(n02) = s.aslod(n02) + arhsv2;
}

} // namespace qmr
