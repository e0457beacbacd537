// Result output: the observation row of every step and the end-of-run files.
#pragma once

#include "state/state.hpp"

namespace qmr {

void outpro(
    Files &io, const Mesh &mesh, const Clock &clock, Levels<double> &lev,
    Observations &obs); // step output: old values and the observation row
void outobs(State &s);  // profile table, flux history, restart file, message

// The name of a file beside the graphic file X: its extension replaced by
// the suffix (X.GRF gives X.obs.csv), or the suffix appended.
std::string besideGraphic(const Files &io, const char *suffix);

// The CSV files (--csv): opened with their headings once the deck is read,
// one row per step after the step output, the profiles at the end.
void opencsv(Files &io, const Options &opt, const Codes &codes,
             const Mesh &mesh, const Prescribed<double> &bc,
             const Observations &obs);
void csvstep(Files &io, const Codes &codes, const Clock &clock,
             const Prescribed<double> &bc, const Levels<double> &lev,
             const Observations &obs, Results &res);
void csvprof(Files &io, const Mesh &mesh, const Clock &clock,
             const Observations &obs);

// X.match.csv (--observations): opened with its heading once the deck and
// the measurements are read (the initial values kept), the simulated values
// followed at the end of every step, the rows written after the last.
void openmatch(Files &io, const Options &opt, const Mesh &mesh,
               const Prescribed<double> &bc, const Levels<double> &lev,
               Measurements &meas);
void matchstep(const Clock &clock, const Prescribed<double> &bc,
               const Levels<double> &lev, Measurements &meas);
void matchrows(Files &io, const Measurements &meas);

} // namespace qmr
