// The iteration of a step run on other numbers than the run's doubles: a run
// that computes derivatives iterates once, on numbers that carry them, and
// leaves in the state exactly the values the run's own iteration would.
#pragma once

#include "fem/iterate.hpp"
#include "state/state.hpp"

namespace qmr {

// What an iteration tells the listing.
class IterationListing {
public:
  virtual void dry(int ie) = 0; // flow element ie has gone dry
  virtual void iteration(int iter, const Scan &scan) = 0;

protected:
  ~IterationListing() = default;
};

// Iterates the step of s in place of the run's iteration: on return the
// levels, the system, the reactions and the tolerance of s are those the
// run's iteration would have left.
class StepCore {
public:
  virtual ~StepCore() = default;
  virtual IterationEnd flow(State &s, IterationListing &listing) = 0;
  virtual IterationEnd transport(State &s, IterationListing &listing) = 0;
};

} // namespace qmr
