// The banded solver on numbers that carry derivatives. The values take
// exactly the arithmetic of the solver on doubles (fem/asm.hpp); the
// derivatives are not carried through the elimination but solved afterwards
// with its factors: A x = b gives A dx = db - dA x, one forward reduction
// and one back substitution per parameter, no division on the derivatives'
// own chain.
#pragma once

#include <algorithm>
#include <array>

#include "fem/asm.hpp"
#include "sens/tangent.hpp"

namespace qmr {

template <int N>
PivotFault asm_(Band<Tangent<N>> &b, Prescribed<Tangent<N>> &bc, int nd) {
  // The band of linear elements is tridiagonal (diagonal in column 2); a
  // system of another width takes the generic solver, the derivatives
  // carried through the elimination.
  if (b.ifullb != 3 || b.ihalfb != 1 || b.ihbp != 2)
    return asm_<Tangent<N>>(b, bc, nd);

  // Prescribed values, as on doubles (their derivatives move with them).
  imposePrescribed(b, bc, nd);

  // Elimination with the forward reduction of the right-hand side, then
  // the back substitution, on the values: the operations of the solver on
  // doubles, value by value. The derivatives of the matrix and of the
  // right-hand side stay as they were assembled.
  for (int j = 1; j < nd; ++j) {
    const double pivot = b.astif(j, 2).v;
    if (badPivot(pivot)) return {j, pivot};
    const double cpiv = -b.astif(j + 1, 1).v / pivot;
    b.astif(j + 1, 1).v = cpiv;
    b.astif(j + 1, 2).v = b.astif(j, 3).v * cpiv + b.astif(j + 1, 2).v;
  }
  for (int i = 2; i <= nd; ++i) {
    const double sum = 0.0 + b.astif(i, 1).v * b.aslod(i - 1).v;
    b.aslod(i).v = b.aslod(i).v + sum;
  }
  if (nd >= 1) {
    if (badPivot(b.astif(nd, 2).v)) return {nd, b.astif(nd, 2).v};
    b.aslod(nd).v = b.aslod(nd).v / b.astif(nd, 2).v;
  }
  for (int i = nd - 1; i >= 1; --i) {
    const double sum = 0.0 + b.astif(i, 3).v * b.aslod(i + 1).v;
    b.aslod(i).v = (b.aslod(i).v - sum) / b.astif(i, 2).v;
  }

  // The derivatives: row by row the residual db - dA x reduced forward with
  // the multipliers, then the back substitution with the upper factor.
  using Lanes = std::array<double, N>;
  for (int i = 1; i <= nd; ++i) {
    Lanes r = b.aslod(i).d;
    const double x = b.aslod(i).v;
    const Lanes &diag = b.astif(i, 2).d;
    for (std::size_t l = 0; l < N; ++l) r[l] = r[l] - diag[l] * x;
    if (i < nd) {
      const double right = b.aslod(i + 1).v;
      const Lanes &upper = b.astif(i, 3).d;
      for (std::size_t l = 0; l < N; ++l) r[l] = r[l] - upper[l] * right;
    }
    if (i > 1) {
      const double left = b.aslod(i - 1).v;
      const double m = b.astif(i, 1).v;
      const Lanes &lower = b.astif(i, 1).d;
      const Lanes &before = b.aslod(i - 1).d;
      for (std::size_t l = 0; l < N; ++l)
        r[l] = r[l] - lower[l] * left + m * before[l];
    }
    b.aslod(i).d = r;
  }
  for (int i = nd; i >= 1; --i) {
    Lanes r = b.aslod(i).d;
    if (i < nd) {
      const double u = b.astif(i, 3).v;
      const Lanes &after = b.aslod(i + 1).d;
      for (std::size_t l = 0; l < N; ++l) r[l] = r[l] - u * after[l];
    }
    const double diag = b.astif(i, 2).v;
    for (std::size_t l = 0; l < N; ++l) r[l] = r[l] / diag;
    b.aslod(i).d = r;
  }

  takeReactions(b, bc);
  return {};
}

} // namespace qmr
