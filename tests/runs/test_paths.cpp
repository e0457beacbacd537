// File names in a deck as the file system takes them: names differing only
// in letter case are one file where the file system says so (Windows), and
// the refusal of an output that is the deck or another output follows it;
// absolute names (a drive letter and backslashes on Windows, the root
// elsewhere) and the C:\QMR\ prefix for the working folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "stop/stop.hpp"
#include "support.hpp"

using qmrtest::FlowDeck;

namespace fs = std::filesystem;

namespace {

FlowDeck small() {
  FlowDeck f;
  f.ne = 2;
  f.nts = 1;
  f.codes.imshgn = 0;
  f.codes.ipcode = 0;
  f.coords = {0.0, 10.0, 20.0};
  f.media = {{1.0, 0.0, 0.1, 10.0}};
  f.values = {{1, 10.0}, {3, 4.0}};
  f.initial = 7.0;
  f.observations = {2};
  f.profiles = {2};
  return f;
}

// Whether the folder's file system takes names differing only in letter
// case as one file.
bool caseBlind(const fs::path &dir) {
  qmrtest::writeFile(dir / "probe", "");
  const bool blind = fs::exists(dir / "PROBE");
  fs::remove(dir / "probe");
  return blind;
}

} // namespace

TEST(Paths, AnOutputNamedAsTheDeckInOtherLetterCase) {
  auto dir = qmrtest::scratch("p-case-deck");
  FlowDeck f = small();
  f.listing = "C:\\QMR\\velda.inp";
  const std::string deck = f.text();
  auto r = qmrtest::runDeckIn(dir, deck);
  EXPECT_EQ(r.file("VELDA.INP"), deck) << "the deck was replaced";
  if (caseBlind(dir)) {
    EXPECT_EQ(r.status, qmr::kExitFile);
    EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.status, qmr::kExitNormal) << r.err;
    EXPECT_NE(r.file("velda.inp"), "");
  }
}

TEST(Paths, TwoOutputsDifferingInLetterCase) {
  auto dir = qmrtest::scratch("p-case-out");
  FlowDeck f = small();
  f.listing = "run.lst";
  f.graphic = "RUN.LST";
  auto r = qmrtest::runDeckIn(dir, f.text());
  if (caseBlind(dir)) {
    EXPECT_EQ(r.status, qmr::kExitFile);
    EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("graphic file"), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.status, qmr::kExitNormal) << r.err;
    EXPECT_TRUE(r.exists("RUN.LST"));
  }
}

TEST(Paths, AbsoluteNamesAndTheWorkingFolderPrefix) {
  auto dir = qmrtest::scratch("p-abs");
  auto elsewhere = qmrtest::scratch("p-abs-out");
  fs::create_directory(dir / "sub");
  FlowDeck f = small();
  // In the system's own spelling: Z:\...\abs.grf on Windows.
  f.graphic = fs::absolute(elsewhere / "abs.grf").make_preferred().string();
  f.listing = "c:\\qmr\\sub\\run.lst";
  ASSERT_LE(f.graphic.size(), 200u);
  auto r = qmrtest::runDeckIn(dir, f.text());
  EXPECT_EQ(r.status, qmr::kExitNormal) << r.err;
  EXPECT_NE(qmrtest::readFile(elsewhere / "abs.grf"), "");
  EXPECT_NE(r.file("sub/run.lst"), "");
}
