// Result output: the observation row of every step and the end-of-run files.
#pragma once

#include "state/state.hpp"

namespace qmr {

void outpro(State &s); // step output: old values and the observation row
void outobs(State &s); // profile table, flux history, restart file, message

// The CSV files (--csv): opened with their headings once the deck is read,
// one row per step after the step output, the profiles at the end.
void opencsv(State &s);
void csvstep(State &s);
void csvprof(State &s);

} // namespace qmr
