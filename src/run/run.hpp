// The run spine: the run sequence, the one termination path, and the job
// files and control data at the head of the main input.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "state/state.hpp"

namespace qmr {

// Exit statuses of the program.
inline constexpr int kExitNormal = 0;     // normal end
inline constexpr int kExitFailure = 1;    // a run ended by a framed failure
inline constexpr int kExitReader = 2;     // the record reader's own report
inline constexpr int kExitFile = 3;       // a file could not be opened/created
inline constexpr int kExitIncomplete = 4; // an output file not fully written
inline constexpr int kExitInternal = 70;  // a fault of the program itself

// Thrown by endqmr: the run stops. Caught in one place (runMain), which
// flushes and closes every file.
struct StopRun {
  int status;
};

// A file that could not be opened or created; the text names it and why.
class FileFault : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Termination: writes the framed message (unless it is "null") to the
// listing, or to the console before the listing exists, and stops the run.
[[noreturn]] void endqmr(State &s, int idelay, std::string_view message);
void tdelay(int n);
[[noreturn]] void error5(State &s);  // main input
[[noreturn]] void error8(State &s);  // restart file
[[noreturn]] void error10(State &s); // velocity file

// A main-input value the program rejects (a node number outside the mesh, a
// count beyond capacity, ...): the diagnostic goes to standard error and the
// run ends with the main-input failure.
[[noreturn]] void badInput(State &s, const std::string &diag);

// Opening the files named by the deck; a failure throws FileFault, and so
// does a name that stands for a file already open as one of `distinct`.
void openOrFail(Unit &u, const std::string &deckName, const char *what,
                bool (Unit::*how)(const std::string &),
                std::initializer_list<const Unit *> distinct = {});

void open1(State &s); // job files and banner
void input(State &s); // control data

// Reads the command line (qmr [options] [DECK]) into the options. Returns -1
// when the run goes on, otherwise the exit status (0 after --help or
// --version, 64 for a usage error, reported on standard error).
int commandLine(int argc, char **argv, Options &opt);

// The run sequence, from the banner to the normal end (which throws StopRun
// through endqmr like every other end).
void qmrrun(State &s);
// Runs the sequence, catches every end, closes every file and returns the
// exit status.
int runMain(State &s);

} // namespace qmr
