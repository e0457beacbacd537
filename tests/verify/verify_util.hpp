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

// The job records of a deck without flux file: run type, listing, graphic
// file and title.
inline void jobRecords(qmrtest::Deck &d, const std::string &type,
                       const std::string &listing, const std::string &graphic) {
  d << type + " OW" << listing << graphic << "verification benchmark";
}

// ---------------------------------------------------------------------------
// Deck records (the shared deck builder)

using qmrtest::FlowDeck;
using qmrtest::FlowMedium;
using qmrtest::TransportDeck;
using qmrtest::TransportMedium;

// The deck of a verification run: its listing and graphic file, no flux
// file.
template <class D>
D verificationDeck(const std::string &listing, const std::string &graphic) {
  D d;
  d.listing = listing;
  d.graphic = graphic;
  d.title = "verification benchmark";
  return d;
}

// ---------------------------------------------------------------------------
// Readers of the outputs (shared with the whole-run tests)

using qmrtest::Balance;
using qmrtest::balances;
using qmrtest::Flux;
using qmrtest::fluxTables;
using qmrtest::Graphic;
using qmrtest::isInteger;
using qmrtest::labels;
using qmrtest::Nodal;
using qmrtest::nodalTables;
using qmrtest::number;
using qmrtest::parseRow;
using qmrtest::readGraphic;
using qmrtest::Row;

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
