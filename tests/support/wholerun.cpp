#include "wholerun.hpp"

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
// The copy of a case for the comparison of builds (see runIn).
void dumpCase(const fs::path &dir) {
  const char *to = std::getenv("QMR_DUMP_DECKS");
  if (to == nullptr || *to == '\0') return;
  static unsigned counter = 0;
  fs::path dest;
  std::error_code ec;
  fs::create_directories(to, ec);
  do {
    dest = fs::path(to) / ("case-" + std::to_string(processId()) + "-" +
                           std::to_string(++counter));
  } while (!fs::create_directory(dest, ec) && !ec);
  if (ec) return;
  for (const auto &e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name == "stdout.txt" || name == "stderr.txt")
      continue;
    fs::copy_file(e.path(), dest / name, ec);
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
