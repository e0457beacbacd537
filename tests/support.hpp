// Shared test helpers: a fresh state whose files live in memory, and whole
// runs of the program in a scratch folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "state/state.hpp"

namespace qmrtest {

// A fresh state (every member zero) with the main input read from `deck`,
// and the console, listing, graphic and flux files collected in memory.
std::unique_ptr<qmr::State> memState(const std::string &deck);

// A fresh state (as memState("")) of a chain of ne elements, ne + 1 nodes,
// one unknown per node, with the band constants of the three-column band
// (full width 3, half width 1, diagonal column 2).
std::unique_ptr<qmr::State> bandChain(int ne);

// A flow step's state built by hand: a chain of ne elements of length len
// (transmissivity 1, base 1, coordinates from 0), fully implicit,
// transient, one step ending at time 1 with one iteration, tolerance 0.01,
// relaxation 1, and the velocity file in memory.
std::unique_ptr<qmr::State> flowChain(int ne, double len);
// Adds a prescribed head at a node.
void fixHead(qmr::State &s, int node, double head);

// Lines of a text, without their line ends.
std::vector<std::string> lines(const std::string &text);

// A deck built line by line: deck << "line" adds one record.
struct Deck {
  std::string text;
  Deck &operator<<(const std::string &line) {
    text += line;
    text += '\n';
    return *this;
  }
};

// A fixed-column field: the value right-justified in w columns.
std::string col(const std::string &v, int w);
std::string col(long v, int w);

// One run of the program in its own scratch folder.
struct Run {
  std::filesystem::path dir;
  int status = -1;
  std::string out; // standard output
  std::string err; // standard error

  std::string file(const std::string &name) const; // content, "" if missing
  bool exists(const std::string &name) const;
};

// A new empty scratch folder under the system's temporary folder.
std::filesystem::path scratch(const std::string &tag);
// Writes `deck` as VELDA.INP into `dir` and runs the program there.
Run runDeckIn(const std::filesystem::path &dir, const std::string &deck);
// The same in a new scratch folder.
Run runDeck(const std::string &tag, const std::string &deck);

std::string readFile(const std::filesystem::path &p);
void writeFile(const std::filesystem::path &p, const std::string &text);

} // namespace qmrtest
