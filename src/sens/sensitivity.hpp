// Exact sensitivities: the derivatives of a run's outputs with respect to
// parameters of its deck (--sensitivity), computed beside the run by the
// finite-element core on numbers that carry derivatives. The core takes,
// on the values, exactly the arithmetic of the run itself, so it makes the
// same iterations and branches; the derivatives are those of the discrete
// equations as the run solved them. The rows go to X.sens.csv beside the
// graphic file X.
#pragma once

#include <memory>

#include "drivers/stepcore.hpp"
#include "state/state.hpp"

namespace qmr {

class Sensitivity {
public:
  // After the deck is read: nothing when no derivative is asked for;
  // otherwise checks that each parameter has one, seeds the derivatives and
  // opens X.sens.csv. A parameter whose value is a stand-in (a width of 0
  // taken for 1, a max_leakage of 0 for no cap) ends the run.
  static std::unique_ptr<Sensitivity> start(State &s);
  virtual ~Sensitivity() = default;
  // After the step of the run: the same step on the derivatives (unless
  // the core iterated it), and its rows.
  virtual void step(State &s) = 0;
  // What iterates the run's steps on numbers that carry the derivatives:
  // nothing when no derivative is asked for.
  virtual StepCore *core() = 0;
};

} // namespace qmr
