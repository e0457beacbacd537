// The run spine: the command line, the run sequence and the one
// termination path.
#pragma once

#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmr {

// Reads the command line (qmr [options] [DECK]) into the options. Returns -1
// when the run goes on, otherwise the exit status (0 after --help or
// --version, 64 for a usage error, reported on standard error).
int commandLine(int argc, char **argv, Options &opt);

// The run sequence, from the banner to the normal end; a failure ends it
// early by throwing StopRun.
void qmrrun(State &s);
// Runs the sequence, catches every end, closes every file and returns the
// exit status.
int runMain(State &s);

// The standard streams as the program writes them on every system: bytes as
// they are (LF line ends, no translation), and on Windows a console that
// shows UTF-8 (the banner's box characters), its code page restored at the
// end.
class ConsoleSetUp {
public:
  ConsoleSetUp();
  ~ConsoleSetUp();
  ConsoleSetUp(const ConsoleSetUp &) = delete;
  ConsoleSetUp &operator=(const ConsoleSetUp &) = delete;

private:
  [[maybe_unused]] unsigned savedCodePage_ = 0; // Windows only
};

} // namespace qmr
