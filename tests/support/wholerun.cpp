#include "wholerun.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <system_error>

#include "system.hpp"

namespace fs = std::filesystem;

namespace qmrtest {

std::string Run::file(const std::string &name) const {
  return readFile(dir / name);
}
bool Run::exists(const std::string &name) const {
  return fs::exists(dir / name);
}

namespace {
// With QMR_DUMP_DECKS naming a folder, every whole run also leaves a copy
// of its deck (as deck1.inp) and of the files placed beside it there, one
// folder per run named after the test, for scripts/compare-builds.sh to run
// on other builds. Nothing here can fail the test.
void dumpCase(const fs::path &dir) {
  const char *to = std::getenv("QMR_DUMP_DECKS");
  if (to == nullptr || *to == '\0') return;
  static int count = 0;
  std::string name = "run";
  if (const auto *t = ::testing::UnitTest::GetInstance()->current_test_info())
    name = std::string(t->test_suite_name()) + "." + t->name();
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
      c = '_';
  std::error_code ec;
  fs::path out;
  do {
    out = fs::path(to) / (name + "-" + std::to_string(++count));
  } while (fs::exists(out, ec));
  fs::create_directories(out, ec);
  for (const auto &e : fs::directory_iterator(dir, ec)) {
    const fs::path f = e.path().filename();
    if (f == "stdout.txt" || f == "stderr.txt") continue;
    std::error_code cp;
    fs::copy(e.path(), out / (f == "VELDA.INP" ? fs::path("deck1.inp") : f),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, cp);
  }
}
} // namespace

Run runIn(const fs::path &dir, const std::vector<std::string> &prefix,
          int timeLimit) {
  dumpCase(dir);
  std::vector<std::string> argv = prefix;
  argv.push_back(QMR_EXE);
  Run r;
  r.dir = dir;
  r.status =
      runProgram(dir, argv, dir / "stdout.txt", dir / "stderr.txt", timeLimit);
  r.out = r.file("stdout.txt");
  r.err = r.file("stderr.txt");
  return r;
}

Run runDeckIn(const fs::path &dir, const std::string &deck, int timeLimit) {
  writeFile(dir / "VELDA.INP", deck);
  return runIn(dir, {}, timeLimit);
}

Run runDeck(const std::string &tag, const std::string &deck, int timeLimit) {
  return runDeckIn(scratch(tag), deck, timeLimit);
}

} // namespace qmrtest
