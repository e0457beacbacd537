// Whole runs of the program with command-line arguments, and the CSV files
// they write, for the tests of the command line and of the CSV outputs.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.hpp"

namespace qmrtest {

// Runs the program in `dir` with `args` (written as for a shell: blanks
// between arguments, single quotes around one that holds blanks); standard
// output and standard error are kept in the result.
// They are captured in a sibling folder (removed afterwards), so that a test
// sees every file the run made and nothing else.
inline Run runArgs(const std::filesystem::path &dir, const std::string &args) {
  const std::filesystem::path cap =
      dir.parent_path() / (dir.filename().string() + ".capture");
  std::filesystem::create_directories(cap);
  // Split as a shell would: blanks separate, single quotes group ('' is an
  // empty argument).
  std::vector<std::string> argv{QMR_EXE};
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : args) {
    if (c == '\'') {
      quoted = !quoted;
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) argv.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) argv.push_back(word);
  Run r;
  r.dir = dir;
  r.status = runProgram(dir, argv, cap / "out", cap / "err", 120);
  r.out = readFile(cap / "out");
  r.err = readFile(cap / "err");
  std::error_code ec;
  std::filesystem::remove_all(cap, ec);
  return r;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> filesIn(const std::filesystem::path &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A CSV file of the program: its header fields and its rows of numbers.
struct Csv {
  std::vector<std::string> header;
  std::vector<std::vector<double>> rows;

  // The column of a header field; throws when there is none.
  std::size_t col(const std::string &name) const {
    for (std::size_t i = 0; i < header.size(); ++i)
      if (header[i] == name) return i;
    throw std::runtime_error("no column " + name);
  }
};

inline std::vector<std::string> splitCsv(const std::string &line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ',')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// Reads a CSV file; every field of a row must read back as a whole number.
inline Csv readCsv(const std::string &text) {
  Csv csv;
  const auto ls = lines(text);
  if (ls.empty()) throw std::runtime_error("empty CSV file");
  csv.header = splitCsv(ls[0]);
  for (std::size_t i = 1; i < ls.size(); ++i) {
    std::vector<double> row;
    for (const auto &f : splitCsv(ls[i])) {
      double v = 0.0;
      const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
      if (r.ec != std::errc() || r.ptr != f.data() + f.size())
        throw std::runtime_error("not a number: \"" + f + "\"");
      row.push_back(v);
    }
    if (row.size() != csv.header.size())
      throw std::runtime_error("row of " + std::to_string(row.size()) +
                               " fields under a header of " +
                               std::to_string(csv.header.size()));
    csv.rows.push_back(row);
  }
  return csv;
}

// A value with every digit a double needs (for --set).
inline std::string digits17(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

// A small transport run for derivatives: 20 elements over 100 m, ten steps
// of 2, 1 held at node 1 and a fluid flux leaving at node 21.
inline TransportDeck smallTransport() {
  TransportDeck t;
  t.ne = 20;
  t.xn = 100.0;
  t.nts = 10;
  t.delta1 = 2.0;
  t.media = {{2.0, 0.01, 0.3, 1.5, 0.001, 0.0, 0.0, 2.0}};
  t.values = {{1, 1.0}};
  t.fluxes = {{21, 0.0, 0.4}};
  t.darcy = 0.2;
  t.thick = 5.0;
  return t;
}

} // namespace qmrtest
