// Shared helpers of the verification programs: the deck records of the
// shared builder, readers of the graphic file and of the listing by their
// fixed columns, and the error measures the benchmarks report.
//
// Header-only: every verification program includes it and needs nothing
// else besides the test support library.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "support.hpp"

namespace qmrverify {

// ---------------------------------------------------------------------------
// Deck records (the shared deck builder)

using qmrtest::Codes;
using qmrtest::Counts;
using qmrtest::FlowMedium;
using qmrtest::fx;
using qmrtest::i5;
using qmrtest::jobRecords;
using qmrtest::nodeValue;
using qmrtest::record;
using qmrtest::TransportMedium;

// ---------------------------------------------------------------------------
// Reading numbers

// A number of an E or I field; exponents of three digits come without the
// letter E ("0.1234+100").
inline double number(const std::string &field) {
  const bool hasE = field.find_first_of("Ee") != std::string::npos;
  const auto sign = field.find_last_of("+-");
  std::string t;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == ' ') continue;
    // A sign after the first digit starts an exponent.
    if (!hasE && i == sign && !t.empty()) t += 'E';
    t += field[i];
  }
  if (t.empty()) throw std::runtime_error("empty field");
  std::size_t used = 0;
  const double v = std::stod(t, &used);
  if (used != t.size()) throw std::runtime_error("bad field: " + field);
  return v;
}

inline bool isInteger(const std::string &field) {
  bool digit = false;
  for (char c : field) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != ' ' && c != '-') {
      return false;
    }
  }
  return digit;
}

// ---------------------------------------------------------------------------
// Graphic file

// A row "(I10,42(1X,E11.4))": the integer, then the values (value j, from 1,
// in the 0-based columns 12 j - 1 .. 12 j + 9).
struct Row {
  int n = 0;
  std::vector<double> v;
};

inline bool parseRow(const std::string &line, Row &row) {
  if (line.size() < 22 || (line.size() - 10) % 12 != 0) return false;
  if (!isInteger(line.substr(0, 10))) return false;
  row.n = std::atoi(line.substr(0, 10).c_str());
  row.v.clear();
  for (std::size_t at = 11; at + 11 <= line.size(); at += 12)
    row.v.push_back(number(line.substr(at, 11)));
  return true;
}

struct Graphic {
  // Observation rows: step, time, log time, value per observation node.
  std::vector<Row> obs;
  // Profile rows: node, coordinate, log coordinate, value per profile.
  std::vector<Row> prof;
  // Observation node per column and time step per profile column, from the
  // headings.
  std::vector<int> obsNodes, profSteps;

  // Value of profile k (from 0) at node ip (from 1).
  double profile(std::size_t k, int ip) const {
    return prof.at(static_cast<std::size_t>(ip - 1)).v.at(2 + k);
  }
};

// The numbers of "   OBS.(nnn)" or "  PROF.(nnn)" labels of a heading.
inline std::vector<int> labels(const std::string &line,
                               const std::string &tag) {
  std::vector<int> out;
  for (auto at = line.find(tag); at != std::string::npos;
       at = line.find(tag, at + 1)) {
    const auto num = line.substr(at + tag.size(), 4);
    if (num.size() == 4 && num[3] == ')') out.push_back(std::atoi(num.c_str()));
  }
  return out;
}

inline Graphic readGraphic(const std::string &text) {
  Graphic g;
  const auto ls = qmrtest::lines(text);
  bool inProfiles = false;
  for (const auto &l : ls) {
    if (l.rfind("1.TIMESTEP", 0) == 0) {
      g.obsNodes = labels(l, "OBS.(");
      continue;
    }
    if (l.rfind("    1.NODE", 0) == 0) {
      g.profSteps = labels(l, "PROF.(");
      inProfiles = true;
      continue;
    }
    Row r;
    if (!parseRow(l, r)) continue;
    (inProfiles ? g.prof : g.obs).push_back(r);
  }
  return g;
}

// ---------------------------------------------------------------------------
// Listing

// Nodal values of every step whose table is printed: (coordinate, value) per
// node, from "(I5,E12.5,5X,E12.5)".
struct Nodal {
  std::vector<double> x, h;
};
inline std::vector<Nodal> nodalTables(const std::string &listing) {
  std::vector<Nodal> out;
  const auto ls = qmrtest::lines(listing);
  for (std::size_t i = 0; i + 1 < ls.size(); ++i) {
    if (ls[i] != " NODE     E-COORD   HYDRAULIC HEAD" &&
        ls[i] != " NODE     E-COORD   CONCENTRATION")
      continue;
    if (ls[i + 1].rfind(" ----", 0) != 0) continue; // the restart echo
    Nodal t;
    for (std::size_t k = i + 2;
         k < ls.size() && ls[k].size() == 34 && isInteger(ls[k].substr(0, 5));
         ++k) {
      t.x.push_back(number(ls[k].substr(5, 12)));
      t.h.push_back(number(ls[k].substr(22, 12)));
    }
    out.push_back(t);
  }
  return out;
}

// One line of the flux table of prescribed-head nodes, "(I6,4E18.5)".
struct Flux {
  int node = 0;
  double head = 0, amount = 0, rate = 0, accum = 0;
};
inline std::vector<std::vector<Flux>> fluxTables(const std::string &listing) {
  std::vector<std::vector<Flux>> out;
  const auto ls = qmrtest::lines(listing);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    if (ls[i] != "  RESULTING FLUX AT PRESCRIBED HEAD NODES") continue;
    std::vector<Flux> t;
    for (std::size_t k = i + 7; k < ls.size() && ls[k].size() == 78; ++k) {
      const auto &l = ls[k];
      t.push_back({std::atoi(l.substr(0, 6).c_str()), number(l.substr(6, 18)),
                   number(l.substr(24, 18)), number(l.substr(42, 18)),
                   number(l.substr(60, 18))});
    }
    out.push_back(t);
  }
  return out;
}

// One mass balance: the terms over the step as printed.
struct Balance {
  double heads = 0, fluxes = 0, recharge = 0, leakage = 0, storage = 0,
         outOfBalance = 0;
  // The largest of the five terms.
  double largest() const {
    return std::max({std::fabs(heads), std::fabs(fluxes), std::fabs(recharge),
                     std::fabs(leakage), std::fabs(storage)});
  }
};
inline std::vector<Balance> balances(const std::string &listing) {
  std::vector<Balance> out;
  const auto ls = qmrtest::lines(listing);
  for (std::size_t i = 0; i + 9 < ls.size(); ++i) {
    if (ls[i] != "           MASS BALANCE COMPUTATION") continue;
    auto term = [&](std::size_t k) { return number(ls[i + k].substr(53)); };
    out.push_back({term(3), term(4), term(5), term(6), term(7), term(9)});
  }
  return out;
}

// ---------------------------------------------------------------------------
// Error measures

// Tolerance of a value read back from a four-digit E11.4 field of the
// graphic file: half a unit of the fourth digit is at most 5E-4 of the value;
// `floor` covers values printed as zero or near it.
inline double printed4(double expected, double floor = 1e-6) {
  return 5e-4 * std::fabs(expected) + floor;
}

// Deviation of an observation-row value from the expected one. The rows
// print values of magnitude below 0.001 (in single precision) as zero, so a
// printed zero only says that the computed value lay within +-0.001.
inline double obsDeviation(double got, double want) {
  if (got == 0.0)
    return std::max(0.0, std::fabs(want) - static_cast<double>(1.0E-3f));
  return std::fabs(got - want);
}

// Records a measured figure: printed, and kept in the test's XML report.
inline void report(const std::string &name, double value) {
  std::printf("  %-48s %.4e\n", name.c_str(), value);
  ::testing::Test::RecordProperty(name, std::to_string(value));
}

// Checks every mass balance of a flow listing: the out-of-balance amount
// against the largest term of the step, or against `scale` when that is
// larger (a balance whose terms cancel, such as a steady through-flow
// between two fixed heads, has only round-off terms); returns the largest
// ratio.
inline double checkBalances(const std::string &listing, double tol,
                            std::size_t expectedCount, double scale = 0.0) {
  const auto bs = balances(listing);
  EXPECT_EQ(bs.size(), expectedCount);
  double worst = 0.0;
  for (const auto &b : bs) {
    const double ref = std::max(b.largest(), scale);
    EXPECT_GT(ref, 0.0);
    if (ref > 0.0) worst = std::max(worst, std::fabs(b.outOfBalance) / ref);
  }
  report("mass out of balance / largest term", worst);
  EXPECT_LE(worst, tol);
  return worst;
}

// A scratch folder for one run, removed when the test ends without a
// failure and kept (its name printed) for inspection otherwise.
class Scratch {
public:
  explicit Scratch(const std::string &tag) : dir_(qmrtest::scratch(tag)) {}
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  ~Scratch() {
    if (::testing::Test::HasFailure()) {
      std::printf("  run folder kept: %s\n", dir_.string().c_str());
      return;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  operator const std::filesystem::path &() const { return dir_; }
  const std::filesystem::path &path() const { return dir_; }

private:
  std::filesystem::path dir_;
};

// Runs a deck in a folder and expects a normal end.
inline qmrtest::Run run(const std::filesystem::path &dir,
                        const std::string &deck, const std::string &listing) {
  auto r = qmrtest::runDeckIn(dir, deck);
  EXPECT_EQ(r.status, 0) << r.err << r.file(listing);
  return r;
}

} // namespace qmrverify
