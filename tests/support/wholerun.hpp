// Whole runs of the program in scratch folders.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qmrtest {

// One run of the program in its folder.
struct Run {
  std::filesystem::path dir;
  int status = -1; // exit status (see runProgram)
  std::string out; // standard output
  std::string err; // standard error

  std::string file(const std::string &name) const; // content, "" if missing
  bool exists(const std::string &name) const;
};

// Runs the program in `dir` as the folder stands (no deck written), its
// standard output and error captured in stdout.txt and stderr.txt there.
// `prefix` is a command that starts the program (for another user, say);
// `timeLimit` in seconds stops a run that takes longer (0: none).
//
// When the environment variable QMR_DUMP_DECKS names a folder, every file
// of `dir` (the deck and the auxiliary files written before the run) is
// first copied into a new sub-folder case-<process>-<n> of it.
Run runIn(const std::filesystem::path &dir,
          const std::vector<std::string> &prefix = {}, int timeLimit = 0);
// Writes `deck` as VELDA.INP into `dir` and runs the program there.
Run runDeckIn(const std::filesystem::path &dir, const std::string &deck,
              int timeLimit = 0);
// The same in a new scratch folder.
Run runDeck(const std::string &tag, const std::string &deck, int timeLimit = 0);

} // namespace qmrtest
