// What the command line asks of a run. A run without options is the run of
// the legacy program: every member keeps its default.
#pragma once

#include <string>

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
  int printEvery = 0; // --print-every N: step reports in the listing only on
                      // steps that are multiples of N; 0 = as the deck says
};

} // namespace qmr
