// Finite-element core: the element routines, assembly, the banded solver and
// the iterations of a step are templates on the number type (assemf.hpp,
// assemt.hpp, sbleak.hpp, band.hpp, asm.hpp, iterate.hpp, flowstep.hpp,
// transtep.hpp). Here the routines of the program's own double run: the
// step start, the per-step velocity input and the end of a run on a pivot
// the solver cannot use.
#pragma once

#include "fem/asm.hpp"
#include "state/state.hpp"

namespace qmr {

// Step start: a clear system, the iterate started from the old values, the
// clock advanced to step its, the time weighting and the step header.
void tstart(Clock &clock, const Codes &codes, const Mesh &mesh,
            Band<double> &band, Levels<double> &lev, Results &res, Files &io);
// Per-step velocity input of a transport run (velocity file code 2).
void fdarcy(Files &io, const Codes &codes, const Mesh &mesh, int its,
            TransportProperties<double> &tprop);
// Ends the run on a pivot the solver could not use.
[[noreturn]] void pivotFailure(Files &io, const PivotFault &fault);

} // namespace qmr
