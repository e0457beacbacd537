// Inputs kept from fuzzing (tests/regress/*.inp), each run as a deck through
// the program. Whatever the deck holds, the run ends in time with one of the
// program's exit statuses, and a failure is reported the way every failure
// is: lines on standard error that begin with "qmr: " and, for a framed
// failure, the framed line last in the listing or on the console. A crash,
// a sanitizer report (in a sanitizer build), a hang or a deck changed by
// the run fails the test.
//
// An input holding the line "%%AUX" is cut there, as the whole-run fuzzer
// does: the rest is written as AUX.DAT next to the deck.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "stop/stop.hpp"
#include "support.hpp"

namespace fs = std::filesystem;
using qmrtest::lines;

namespace {

std::vector<fs::path> keptInputs() {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto &e :
       fs::directory_iterator(fs::path(QMR_SOURCE_DIR) / "tests/regress", ec))
    if (e.path().extension() == ".inp") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

std::string testName(const testing::TestParamInfo<fs::path> &info) {
  std::string n = info.param.stem().string();
  for (char &c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

bool framed(const std::string &text) {
  auto ls = lines(text);
  if (ls.empty()) return false;
  const std::string &l = ls.back();
  return l.size() >= 9 && l.rfind(" ****", 0) == 0 &&
         l.compare(l.size() - 4, 4, "****") == 0;
}

class Regress : public testing::TestWithParam<fs::path> {};

} // namespace

TEST_P(Regress, EndsWithADefinedStatus) {
  const std::string input = qmrtest::readFile(GetParam());
  const auto dir = qmrtest::scratch("regress");
  const std::string cut = "\n%%AUX\n";
  const std::size_t at = input.find(cut);
  const std::string deck =
      input.substr(0, at == std::string::npos ? input.size() : at + 1);
  qmrtest::writeFile(dir / "VELDA.INP", deck);
  if (at != std::string::npos)
    qmrtest::writeFile(dir / "AUX.DAT", input.substr(at + cut.size()));

  const qmrtest::Run r = qmrtest::runIn(dir, {}, 60);
  ASSERT_GE(r.status, 0) << "the run was killed by signal " << -r.status;
  const int status = r.status;
  const std::string &out = r.out;
  const std::string &err = r.err;

  ASSERT_NE(status, qmrtest::kTimedOut) << "the run did not end within 60 s";
  EXPECT_TRUE(status == qmr::kExitNormal || status == qmr::kExitFailure ||
              status == qmr::kExitReader || status == qmr::kExitFile ||
              status == qmr::kExitIncomplete)
      << "status " << status << "\n"
      << err;
  if (status == qmr::kExitNormal) {
    EXPECT_EQ(err, "");
  } else {
    auto ls = lines(err);
    ASSERT_FALSE(ls.empty());
    for (const auto &l : ls) EXPECT_EQ(l.rfind("qmr: ", 0), 0u) << err;
  }
  // No output may ever be written over the deck.
  EXPECT_TRUE(qmrtest::readFile(dir / "VELDA.INP") == deck)
      << "the deck was changed";
  if (status == qmr::kExitFailure) {
    bool found = framed(out);
    for (const auto &e : fs::directory_iterator(dir))
      if (e.is_regular_file() && framed(qmrtest::readFile(e.path())))
        found = true;
    EXPECT_TRUE(found) << "no framed failure line";
  }
}

INSTANTIATE_TEST_SUITE_P(Kept, Regress, testing::ValuesIn(keptInputs()),
                         testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Regress);
