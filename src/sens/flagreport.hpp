// What the iteration on numbers that carry derivatives reports: the flags
// that say where a derivative is one-sided (a branch of the run that a small
// change of a parameter could switch), and the listing's reports when the
// iteration is the run's own.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "drivers/stepcore.hpp"
#include "fem/iterate.hpp"
#include "fem/sbleak.hpp"
#include "state/state.hpp"

namespace qmr {

// What can make a derivative one-sided, from the step where it happened on
// (every later value depends on it).
struct Flags {
  bool dry = false;         // an element went dry: its thickness clamped
  bool cap = false;         // a leakage rate within a small change of its
                            // cap: the cap could come on or off
  bool convergence = false; // an iteration's change within a factor of 10
                            // of its tolerance: one iteration more or less
                            // within a small change of a parameter
  bool mismatch = false;    // the values differ from the run's (never seen)

  std::string text() const {
    std::string t;
    for (auto [on, word] : {std::pair{dry, "dry"},
                            {cap, "cap"},
                            {convergence, "convergence"},
                            {mismatch, "mismatch"}})
      if (on) t += (t.empty() ? "" : ";") + std::string(word);
    return t;
  }
};

// A small change of a parameter, relative to its value: a branch that a
// change this large could switch is flagged.
constexpr double kSmall = 0.01;

// What the iteration on derivatives reports: no listing, only the flags.
// A scan decides whether the iteration goes on: it does while the largest
// change of a node is at or above the tolerance. When a change of 1 % of
// some parameter could carry that change across the tolerance (judged from
// the change's own derivative), the run could make one iteration more or
// less there, and the derivatives from then on are one-sided.
template <class T> struct FlagReport {
  const Criteria &crit;
  const Band<T> &band;
  const Levels<T> &lev;
  const std::vector<double> &scale; // magnitude of each parameter
  Flags &flags;
  T &toler;    // the tolerance of the next scan, with its derivatives
  bool renews; // a flow step: the tolerance follows the solution's range
  int np;

  void dry(int) { flags.dry = true; }
  // A rate that 1 % of some parameter could carry across its cap.
  void leakage(int, const Leakage<T> &l) {
    for (const T *gap : {&l.capNew, &l.capOld})
      for (std::size_t j = 0; j < scale.size(); ++j)
        if (std::fabs(gap->d[j]) * scale[j] * kSmall >= std::fabs(gap->v))
          flags.cap = true;
  }
  void iteration(int, const Scan &scan) {
    if (crit.nitmax > 1 && scan.nmaxnd > 0) {
      // The largest change against the tolerance it was held to.
      const T change = band.aslod(scan.nmaxnd) - lev.hdnew(scan.nmaxnd);
      const double sign = change.v < 0.0 ? -1.0 : 1.0;
      const double margin = std::fabs(scan.amaxdf - toler.v);
      for (std::size_t j = 0; j < scale.size(); ++j) {
        const double slope = sign * change.d[j] - toler.d[j];
        if (std::fabs(slope) * scale[j] * kSmall >= margin)
          flags.convergence = true;
      }
    }
    // The next tolerance of a flow step: 0.1 % of the range of the
    // solution (zero included), at least 1.0E-6, as the step renews it.
    if (!renews) return;
    const T upper = scan.nupper > 0 ? band.aslod(scan.nupper) : T(0.0);
    const T lower = scan.nlower > 0 ? band.aslod(scan.nlower) : T(0.0);
    const T vtoler = (upper - lower) * static_cast<double>(0.001f);
    toler = vtoler.v == crit.toler ? vtoler : T(crit.toler);
  }
};

// What the iteration on derivatives reports: the flags, and the listing's
// reports when the iteration is the run's.
template <class T> struct BothReports {
  FlagReport<T> &flags;
  IterationListing *listing;

  void dry(int ie) {
    flags.dry(ie);
    if (listing != nullptr) listing->dry(ie);
  }
  void leakage(int ie, const Leakage<T> &l) { flags.leakage(ie, l); }
  void iteration(int iter, const Scan &scan) {
    flags.iteration(iter, scan);
    if (listing != nullptr) listing->iteration(iter, scan);
  }
};

} // namespace qmr
