// The banded solver: Gaussian elimination without row exchanges on the band
// matrix, with the prescribed values imposed first and the reactions at the
// prescribed nodes returned in the same pass.
#include <cmath>
#include <string>

#include "fem/fem.hpp"
#include "layout/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout
    kZeroPivot("('ZERO PIVOT IN EQUATION ',I5,' - SYSTEM CANNOT BE SOLVED')");
const Layout
    kBadPivot("('INVALID PIVOT IN EQUATION ',I5,' - SYSTEM CANNOT BE SOLVED')");

// A pivot that is exactly zero or not finite ends the run: nothing sensible
// can follow from it. A zero pivot comes from a degenerate element (zero
// length or zero properties) next to a free node.
void checkPivot(State &s, int eq, double pivot) {
  if (pivot != 0.0 && std::isfinite(pivot)) return;
  const std::string at = "pivot at equation " + std::to_string(eq);
  if (pivot == 0.0)
    fail(s,
         "zero " + at +
             ": an element next to a free node has zero length or zero "
             "properties",
         format(kZeroPivot, {eq}));
  fail(s,
       "non-finite " + at +
           ": an element next to it has zero length or values that are "
           "not finite",
       format(kBadPivot, {eq}));
}

} // namespace

void asm_(State &s) {
  const int nrs = s.nd - 1;

  // Prescribed values: the known value moves into the right-hand sides of
  // the neighbours, and the node's own row becomes the equation of its
  // reaction (its diagonal -1 stands for the unknown reaction).
  for (int i = 1; i <= s.nbt; ++i) {
    const int ind00 = s.idv(i);
    const double hdprs = s.valb(i);
    const int indm1 = ind00 - 1;
    const int indp1 = ind00 + 1;
    if (indm1 > 0) {
      s.aslod(indm1) = s.aslod(indm1) - s.astif(indm1, s.ip01) * hdprs;
      s.astif(indm1, s.ip01) = 0.0;
    }
    s.aslod(ind00) = s.aslod(ind00) - s.astif(ind00, s.ihbp) * hdprs;
    s.astif(ind00, s.ihbp) = -1.0;
    if (indp1 <= s.nd) {
      s.aslod(indp1) = s.aslod(indp1) - s.astif(indp1, s.im01) * hdprs;
      s.astif(indp1, s.im01) = 0.0;
    }
  }

  // Elimination; the negated multipliers replace the eliminated entries.
  for (int j = 1; j <= nrs; ++j) {
    const double pivot = s.astif(j, s.ihbp);
    checkPivot(s, j, pivot);
    const int jj = j + 1;
    int jc = s.ihbp;
    for (int i = jj; i <= s.nd; ++i) {
      jc = jc - 1;
      if (jc <= 0) break;
      const double cpiv = -s.astif(i, jc) / pivot;
      s.astif(i, jc) = cpiv;
      const int ji = jc + 1;
      const int lim = jc + s.ihalfb;
      for (int k = ji; k <= lim; ++k) {
        const int kc = k + s.ihbp - jc;
        s.astif(i, k) = s.astif(j, kc) * cpiv + s.astif(i, k);
      }
    }
  }

  // Forward reduction of the right-hand side.
  const int nn = s.nd + 1;
  for (int i = 2; i <= s.nd; ++i) {
    int kc = s.ihbp - i + 1;
    int ki = 1;
    if (kc <= 0) {
      kc = 1;
      ki = i - s.ihbp + 1;
    }
    double sum = 0.0;
    for (int k = kc; k <= s.ihalfb; ++k) {
      sum = sum + s.astif(i, k) * s.aslod(ki);
      ki = ki + 1;
    }
    s.aslod(i) = s.aslod(i) + sum;
  }

  // Back substitution.
  if (s.nd >= 1) {
    checkPivot(s, s.nd, s.astif(s.nd, s.ihbp));
    s.aslod(s.nd) = s.aslod(s.nd) / s.astif(s.nd, s.ihbp);
  }
  for (int ibacj = 2; ibacj <= s.nd; ++ibacj) {
    const int i = nn - ibacj;
    int kp = i;
    const int jr = s.ihbp + 1;
    const int mr = s.ifullb < ibacj + s.ihalfb ? s.ifullb : ibacj + s.ihalfb;
    double sum = 0.0;
    for (int k = jr; k <= mr; ++k) {
      kp = kp + 1;
      sum = sum + s.astif(i, k) * s.aslod(kp);
    }
    s.aslod(i) = (s.aslod(i) - sum) / s.astif(i, s.ihbp);
  }

  // Reactions: the amount that enters at each prescribed node over the step.
  for (int i = 1; i <= s.nbt; ++i) {
    const int ind = s.idv(i);
    s.qvalb(i) = s.aslod(ind);
    s.aslod(ind) = s.valb(i);
  }
}

} // namespace qmr
