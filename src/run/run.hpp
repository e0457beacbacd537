// The run spine: the run sequence, the one termination path, and the job
// files and control data at the head of the main input.
#pragma once

#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

void open1(State &s); // job files and banner
void input(State &s); // control data

// The run sequence, from the banner to the normal end; a failure ends it
// early by throwing StopRun.
void qmrrun(State &s);
// Runs the sequence, catches every end, closes every file and returns the
// exit status.
int runMain(State &s);

} // namespace qmr
