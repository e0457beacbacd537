// Finite-element core: element matrices, the leakage limiter, the banded
// solver, the step start and the per-step velocity input.
#pragma once

#include "state/state.hpp"

namespace qmr {

void assemf(State &s, int ie); // flow element matrices
void sbleak(State &s, int ie); // aquitard leakage limiter
void assemt(State &s, int ie); // transport element matrices
// The banded solver; "asm" itself is a reserved word of the language.
void asm_(State &s);
void tstart(State &s); // step start
void fdarcy(State &s); // per-step velocity input

} // namespace qmr
