// Time-step drivers: one step of a flow run or of a transport run.
#pragma once

#include "state/state.hpp"

namespace qmr {

class StepCore;

// A flow step: iteration, results, balance and files; the iteration by core
// when one is given.
void drivef(State &s, StepCore *core = nullptr);
// A transport step.
void drivet(State &s, StepCore *core = nullptr);

} // namespace qmr
