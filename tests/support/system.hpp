// What the tests need of the operating system, in one place: scratch
// folders, whole files, and running a program with its standard streams in
// files. POSIX systems and Windows each have their branch here; the tests
// themselves use no system call.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qmrtest {

// The status runProgram gives a program it stopped after its time limit
// (as the timeout command does).
constexpr int kTimedOut = 124;

// A new empty folder under the system's temporary folder, named after the
// tag, the process and a counter.
std::filesystem::path scratch(const std::string &tag);

// The whole content of a file ("" when it cannot be read), and a file
// written with exactly the given bytes.
std::string readFile(const std::filesystem::path &p);
void writeFile(const std::filesystem::path &p, const std::string &text);

// The identifier of this process.
long processId();

// Runs argv[0] (found on the search path when it names no folder) with its
// arguments in the working folder `dir`: standard input from the null
// device, standard output and standard error into the files `out` and
// `err`. A time limit in seconds (0: none) stops a program that runs
// longer. Returns the exit status, kTimedOut for a program stopped at its
// limit, or minus the signal number that ended it. Throws when the program
// cannot be started.
int runProgram(const std::filesystem::path &dir,
               const std::vector<std::string> &argv,
               const std::filesystem::path &out,
               const std::filesystem::path &err, int timeLimit = 0);

#ifdef _WIN32
// Holds a file open, sharing it with no one, while it lives: no other
// program can open it meanwhile (Windows' sharing modes, the counterpart of
// a file without read permission on POSIX systems).
class ExclusiveHold {
public:
  explicit ExclusiveHold(const std::filesystem::path &p);
  ~ExclusiveHold();
  ExclusiveHold(const ExclusiveHold &) = delete;
  ExclusiveHold &operator=(const ExclusiveHold &) = delete;
  bool held() const;

private:
  void *handle_;
};
#endif

} // namespace qmrtest
