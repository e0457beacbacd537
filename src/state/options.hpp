// What the command line asks of a run. A run without options is the run of
// the legacy program: every member keeps its default.
#pragma once

#include <string>
#include <vector>

#include "state/parameter.hpp"

namespace qmr {

struct Options {
  std::string dir;  // -C DIR: the working folder to change to first
  std::string deck; // the main input named on the command line; "" = VELDA.INP
  bool quiet = false;     // --quiet: no banner, no progress line
  bool check = false;     // --check: read and check the deck, run no step,
                          // write no file
  bool csv = false;       // --csv: also write the CSV files
  bool noListing = false; // --no-listing: the listing is not written; its
                          // lines about trouble go to standard error
  // --print-every N: step reports in the listing only on steps that are
  // multiples of N; 0 = as the deck says
  int printEvery = 0;
  // --set PATH=VALUE and --parameters FILE: deck values at full precision,
  // taken as each record is read.
  ParameterValues values;
  // --sensitivity PATH and --sensitivities FILE: the parameters whose
  // derivatives are written to X.sens.csv, and which outputs
  // (--sensitivity-outputs).
  std::vector<Parameter> sensitivity;
  bool sensObservations = true;
  bool sensProfiles = false;
  bool sensFluxes = true;
  bool sensBalance = false;
  // --observations FILE: measured data, the file's name as given and its
  // text, read with the command line (as the parameter file is).
  std::string observations;
  std::string observationsText;
};

} // namespace qmr
