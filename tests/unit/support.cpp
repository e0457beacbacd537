#include "support.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace qmrtest {

std::unique_ptr<qmr::State> memState(const std::string &deck) {
  auto s = std::make_unique<qmr::State>();
  s->io.con.openMemory("console");
  s->io.u5.openText("VELDA.INP", deck);
  s->io.u6.openMemory("listing");
  s->io.listingOpen = true;
  s->io.u7.openMemory("graphic");
  s->io.u4.openMemory("flux");
  return s;
}

std::unique_ptr<qmr::State> bandChain(int ne) {
  auto s = memState("");
  s->ne = ne;
  s->np = s->nd = ne + 1;
  s->ndofn = 1;
  s->ifullb = 3;
  s->ihalfb = 1;
  s->ihbp = 2;
  return s;
}

std::unique_ptr<qmr::State> flowChain(int ne, double len) {
  auto s = bandChain(ne);
  for (int ie = 1; ie <= ne; ++ie) {
    s->elen(ie) = len;
    s->etran(ie) = 1.0;
    s->ebott(ie) = 1.0;
  }
  for (int ip = 1; ip <= s->np; ++ip) s->ecoord(ip) = (ip - 1) * len;
  s->theta = 1.0;
  s->asign = 1.0;
  s->toler = 0.01;
  s->nitmax = 1;
  s->relax = 1.0;
  s->istep = 1;
  s->nts = 1;
  s->timvec(1) = 1.0;
  s->itprof = 1; // as the observation input leaves it
  s->io.u10.openMemory("velocity");
  return s;
}

void fixHead(qmr::State &s, int node, double head) {
  s.nbt += 1;
  s.idv(s.nbt) = node;
  s.valb(s.nbt) = head;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::string col(const std::string &v, int w) {
  if (static_cast<int>(v.size()) >= w) return v.substr(0, w);
  return std::string(w - v.size(), ' ') + v;
}
std::string col(long v, int w) { return col(std::to_string(v), w); }

std::string readFile(const std::filesystem::path &p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return {};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::filesystem::path &p, const std::string &text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

std::string Run::file(const std::string &name) const {
  return readFile(dir / name);
}
bool Run::exists(const std::string &name) const {
  return std::filesystem::exists(dir / name);
}

std::filesystem::path scratch(const std::string &tag) {
  std::string tmpl =
      (std::filesystem::temp_directory_path() / ("qmr-" + tag + "-XXXXXX"))
          .string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  const char *made = mkdtemp(buf.data());
  if (made == nullptr) throw std::runtime_error("cannot make scratch folder");
  return std::filesystem::path(made);
}

// With QMR_DUMP_DECKS naming a folder, every whole run also leaves a copy
// of its deck (as deck1.inp) and of the files placed beside it there, one
// folder per run named after the test, for scripts/compare-builds.sh to run
// on other builds. Nothing here can fail the test.
static void dumpDeck(const std::filesystem::path &dir) {
  namespace fs = std::filesystem;
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

Run runDeckIn(const std::filesystem::path &dir, const std::string &deck) {
  writeFile(dir / "VELDA.INP", deck);
  dumpDeck(dir);
  Run r;
  r.dir = dir;
  std::string cmd = "cd '" + dir.string() + "' && '" QMR_EXE "' >stdout.txt " +
                    "2>stderr.txt </dev/null";
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = readFile(dir / "stdout.txt");
  r.err = readFile(dir / "stderr.txt");
  return r;
}

Run runDeck(const std::string &tag, const std::string &deck) {
  return runDeckIn(scratch(tag), deck);
}

} // namespace qmrtest
