// Result output: the observation row of every step and the end-of-run files.
#pragma once

#include "state/state.hpp"

namespace qmr {

void outpro(State &s); // step output: old values and the observation row
void outobs(State &s); // profile table, flux history, restart file, message

} // namespace qmr
