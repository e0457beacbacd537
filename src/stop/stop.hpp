// The stop: how every run ends, and the exit statuses that say how it ended.
// Every routine that reads, checks or solves may end the run from here;
// this layer sits under input/, fem/, drivers/ and output/ and includes
// nothing above the state and the layouts.
//
// A failure ends the run by throwing StopRun (through endqmr), which the run
// spine catches in one place before it flushes and closes every file. The
// normal end (endNormal) returns: the run sequence then simply finishes.
#pragma once

#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "io/layout.hpp"
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

// The failure messages framed by "****" in the listing.
inline constexpr std::string_view kMainInputFailure =
    "ERROR OR END OF FILE ON MAIN INPUT";
inline constexpr std::string_view kRestartFailure =
    "ERROR OR END OF FILE ON RESTART FILE";
inline constexpr std::string_view kVelocityFailure =
    "ERROR OR END OF FILE ON DARCY FILE";
inline constexpr std::string_view kVelocityMismatch =
    "PROBLEMS IN READING DARCY VELOCITIES FILE";
inline constexpr std::string_view kParameterFailure =
    "A PARAMETER OF THE COMMAND LINE IS NOT IN THE DECK";
inline constexpr std::string_view kObservationFailure =
    "ERROR IN THE FILE OF OBSERVATIONS OF THE COMMAND LINE";
inline constexpr std::string_view kNotConverged =
    "SOLUTION NOT CONVERGED - PROGRAM TERMINATED";

// Termination on a failure: writes the framed message to the listing, or to
// the console before the listing exists, and stops the run. (A message that
// reads "null" writes nothing and stops it as a normal end.)
[[noreturn]] void endqmr(Files &io, int idelay, std::string_view message);
// The normal end: the main input is closed and the run sequence returns.
void endNormal(Files &io);
void tdelay(int n);

// The one call that says what failed (the diagnostic on standard error)
// and ends the run with the framed message.
[[noreturn]] void fail(Files &io, std::string diag, std::string_view message);

[[noreturn]] void error5(Files &io);  // main input
[[noreturn]] void error8(Files &io);  // restart file
[[noreturn]] void error10(Files &io); // velocity file

// A main-input value the program rejects (a node number outside the mesh, a
// count beyond capacity, ...): the diagnostic goes to standard error and the
// run ends with the main-input failure. `rec`, when given, is the record
// that carried the value: a record missing or doubled before it is looked
// for.
[[noreturn]] void badInput(Files &io, const std::string &diag, long rec = 0);

// A checked read of the next main-input record; end of file or a field that
// cannot be read ends the run with the main-input failure.
void readMain(Files &io, const Layout &f, std::span<const Ref> to);
inline void readMain(Files &io, const Layout &f,
                     std::initializer_list<Ref> to) {
  readMain(io, f, std::span<const Ref>(to.begin(), to.size()));
}

// Opening the files named by the deck; a failure throws FileFault, and so
// does a name that stands for a file already open as one of `distinct`.
void openOrFail(Unit &u, const std::string &deckName, const char *what,
                bool (Unit::*how)(const std::string &),
                std::initializer_list<const Unit *> distinct = {});

} // namespace qmr
