// The banded global system as the element routines and the step drivers
// touch it: the addition of one element's two equations, and the clearing
// of the system before an assembly.
#pragma once

#include "fem/element.hpp"

namespace qmr {

// Adds the local system of element ie (rows n01 and n02). Each off-diagonal
// position belongs to one element only, so it is set; the diagonal and the
// right-hand side collect the contributions of both adjoining elements.
template <class T>
void addElement(Band<T> &b, int ndofn, int ie, const LocalSystem<T> &l) {
  const int n01 = (ie - 1) * ndofn + 1;
  const int n02 = n01 + 1;
  const int im01 = b.ihbp - 1;
  const int ip01 = b.ihbp + 1;
  b.astif(n01, b.ihbp) = b.astif(n01, b.ihbp) + l.alhs11;
  b.astif(n01, ip01) = l.alhs12;
  b.astif(n02, im01) = l.alhs21;
  b.astif(n02, b.ihbp) = b.astif(n02, b.ihbp) + l.alhs22;
  b.aslod(n01) = b.aslod(n01) + l.arhsv1;
  b.aslod(n02) = b.aslod(n02) + l.arhsv2;
}

} // namespace qmr
