// The banded solver: Gaussian elimination without row exchanges on the band
// matrix, with the prescribed values imposed first and the reactions at the
// prescribed nodes returned in the same pass.
#pragma once

#include "fem/scalar.hpp"
#include "state/state.hpp"

namespace qmr {

// A pivot the solver cannot divide by: its equation (0 when every pivot was
// sound) and its value.
struct PivotFault {
  int eq = 0;
  double pivot = 0.0;
  explicit operator bool() const { return eq != 0; }
};

// A pivot that is exactly zero or not finite: nothing sensible can follow.
inline bool badPivot(double pivot) {
  return pivot == 0.0 || !std::isfinite(pivot);
}

// Prescribed values: the known value moves into the right-hand sides of
// the neighbours, and the node's own row becomes the equation of its
// reaction (its diagonal -1 stands for the unknown reaction).
template <class T>
void imposePrescribed(Band<T> &b, const Prescribed<T> &bc, int nd) {
  const int im01 = b.ihbp - 1;
  const int ip01 = b.ihbp + 1;
  for (int i = 1; i <= bc.nbt; ++i) {
    const int ind00 = bc.idv(i);
    const T hdprs = bc.valb(i);
    const int indm1 = ind00 - 1;
    const int indp1 = ind00 + 1;
    if (indm1 > 0) {
      b.aslod(indm1) = b.aslod(indm1) - b.astif(indm1, ip01) * hdprs;
      b.astif(indm1, ip01) = 0.0;
    }
    b.aslod(ind00) = b.aslod(ind00) - b.astif(ind00, b.ihbp) * hdprs;
    b.astif(ind00, b.ihbp) = -1.0;
    if (indp1 <= nd) {
      b.aslod(indp1) = b.aslod(indp1) - b.astif(indp1, im01) * hdprs;
      b.astif(indp1, im01) = 0.0;
    }
  }
}

// Reactions: the amount that enters at each prescribed node over the step
// (solved in the node's own row) goes to qvalb, and the node takes its
// prescribed value.
template <class T> void takeReactions(Band<T> &b, Prescribed<T> &bc) {
  for (int i = 1; i <= bc.nbt; ++i) {
    const int ind = bc.idv(i);
    bc.qvalb(i) = b.aslod(ind);
    b.aslod(ind) = bc.valb(i);
  }
}

// Solves the system of nd equations in b: on return aslod holds the
// solution, with the prescribed values at their nodes, and qvalb the
// amount that enters at each prescribed node over the step. Stops at the
// first bad pivot and returns it.
template <class T> PivotFault asm_(Band<T> &b, Prescribed<T> &bc, int nd) {
  const int nrs = nd - 1;
  imposePrescribed(b, bc, nd);

  // Elimination; the negated multipliers replace the eliminated entries.
  for (int j = 1; j <= nrs; ++j) {
    const T pivot = b.astif(j, b.ihbp);
    if (badPivot(value(pivot))) return {j, value(pivot)};
    const int jj = j + 1;
    int jc = b.ihbp;
    for (int i = jj; i <= nd; ++i) {
      jc = jc - 1;
      if (jc <= 0) break;
      const T cpiv = -b.astif(i, jc) / pivot;
      b.astif(i, jc) = cpiv;
      const int ji = jc + 1;
      const int lim = jc + b.ihalfb;
      for (int k = ji; k <= lim; ++k) {
        const int kc = k + b.ihbp - jc;
        b.astif(i, k) = b.astif(j, kc) * cpiv + b.astif(i, k);
      }
    }
  }

  // Forward reduction of the right-hand side.
  const int nn = nd + 1;
  for (int i = 2; i <= nd; ++i) {
    int kc = b.ihbp - i + 1;
    int ki = 1;
    if (kc <= 0) {
      kc = 1;
      ki = i - b.ihbp + 1;
    }
    T sum = 0.0;
    for (int k = kc; k <= b.ihalfb; ++k) {
      sum = sum + b.astif(i, k) * b.aslod(ki);
      ki = ki + 1;
    }
    b.aslod(i) = b.aslod(i) + sum;
  }

  // Back substitution.
  if (nd >= 1) {
    if (badPivot(value(b.astif(nd, b.ihbp))))
      return {nd, value(b.astif(nd, b.ihbp))};
    b.aslod(nd) = b.aslod(nd) / b.astif(nd, b.ihbp);
  }
  for (int ibacj = 2; ibacj <= nd; ++ibacj) {
    const int i = nn - ibacj;
    int kp = i;
    const int jr = b.ihbp + 1;
    const int mr = b.ifullb < ibacj + b.ihalfb ? b.ifullb : ibacj + b.ihalfb;
    T sum = 0.0;
    for (int k = jr; k <= mr; ++k) {
      kp = kp + 1;
      sum = sum + b.astif(i, k) * b.aslod(kp);
    }
    b.aslod(i) = (b.aslod(i) - sum) / b.astif(i, b.ihbp);
  }

  takeReactions(b, bc);
  return {};
}

} // namespace qmr
