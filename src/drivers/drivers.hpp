// Time-step drivers: one step of a flow run or of a transport run.
#pragma once

#include "state/state.hpp"

namespace qmr {

void drivef(State &s); // flow step: iteration, results, balance and files
void drivet(State &s); // transport step

} // namespace qmr
