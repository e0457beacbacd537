// Fuzzer of whole runs: the input is written as VELDA.INP in a scratch
// folder and the program runs on it in-process, from the banner to its exit
// status, with standard output and standard error caught in files.
//
// An input holding the line "%%AUX" is cut there: what precedes it is the
// deck, what follows it is written as AUX.DAT next to the deck, so a deck
// that names AUX.DAT as its restart or velocity file reads fuzzed records.
//
// Any exit status of the program is an outcome. Findings (abort): a crash or
// sanitizer report; a hang or runaway memory (libFuzzer's -timeout and
// -rss_limit_mb); the internal-fault status (70, which a bounds check or an
// unexpected exception gives); a failure without its "qmr: " line on
// standard error (after any warnings); a normal end with anything but
// warning lines on standard error or without the completion lines at the end
// of the listing; a framed failure (status 1) without its framed line at the
// end of the listing or of the console.
//
// The deck may name any file. The scratch folder is the working folder, deep
// enough that names climbing out of it with ".." stay inside the scratch
// tree, which is emptied after every run. scripts/fuzz.sh runs the fuzzer as
// an unprivileged user when started as root.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "run/run.hpp"
#include "state/state.hpp"

namespace fs = std::filesystem;

namespace {

// The scratch tree: base/s1/.../s7/run; the program runs in run.
fs::path gBase;
std::vector<fs::path> gChain; // base, base/s1, ..., run
int gSavedOut = -1;
int gSavedErr = -1;
const std::string kWarning = "qmr: warning: ";

[[noreturn]] void finding(const std::string &what, const std::string &err) {
  std::fprintf(stderr, "fuzz_run: %s\n--- standard error of the run ---\n%s\n",
               what.c_str(), err.c_str());
  std::abort();
}

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string lastLine(const std::string &text) {
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n') --end;
  std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  start = (start == std::string::npos || end == 0) ? 0 : start + 1;
  return text.substr(start, end - start);
}

// Everything the run left in the scratch tree goes, except the tree itself
// and the files that caught its output.
void clean() {
  for (std::size_t k = 0; k < gChain.size(); ++k) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(gChain[k], ec)) {
      const fs::path &p = entry.path();
      if (k + 1 < gChain.size() && p == gChain[k + 1]) continue;
      if (k == 0 &&
          (p.filename() == "stdout.txt" || p.filename() == "stderr.txt"))
        continue;
      std::error_code rm;
      fs::remove_all(p, rm);
    }
  }
}

// The listing as a file of its own: a regular file that no other unit of
// the run (the main input included) shares.
bool ownListing(qmr::State &s, fs::path &path) {
  if (!s.io.listingOpen) return false;
  path = s.io.listing.name();
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const qmr::Unit *others[] = {&s.io.flux,       &s.io.deck,
                               &s.io.graphic,    &s.io.restartIn,
                               &s.io.restartOut, &s.io.velocity};
  for (const qmr::Unit *u : others) {
    if (u->name().empty()) continue;
    std::error_code eq;
    if (fs::equivalent(path, u->name(), eq)) return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::string tmpl = (fs::temp_directory_path() / "qmr-fuzz-run-XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    std::perror("fuzz_run: cannot make the scratch folder");
    std::exit(1);
  }
  gBase = buf.data();
  fs::path p = gBase;
  gChain.push_back(p);
  for (int k = 1; k <= 7; ++k) {
    p /= "s" + std::to_string(k);
    gChain.push_back(p);
  }
  p /= "run";
  gChain.push_back(p);
  fs::create_directories(p);
  if (chdir(p.c_str()) != 0) {
    std::perror("fuzz_run: cannot enter the scratch folder");
    std::exit(1);
  }
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gBase, ec);
  });
  gSavedOut = dup(1);
  gSavedErr = dup(2);
  // Sanitizer reports go to the real standard error, not to the file that
  // catches the program's own.
  __sanitizer_set_report_fd(
      reinterpret_cast<void *>(static_cast<std::intptr_t>(gSavedErr)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  {
    const std::string in(reinterpret_cast<const char *>(data), size);
    static const std::string kCut = "\n%%AUX\n";
    const std::size_t cut = in.find(kCut);
    std::ofstream deck("VELDA.INP", std::ios::binary | std::ios::trunc);
    deck << in.substr(0, cut == std::string::npos ? in.size() : cut + 1);
    if (cut != std::string::npos) {
      std::ofstream aux("AUX.DAT", std::ios::binary | std::ios::trunc);
      aux << in.substr(cut + kCut.size());
    }
  }
  const fs::path outPath = gBase / "stdout.txt";
  const fs::path errPath = gBase / "stderr.txt";

  std::fflush(stdout);
  std::fflush(stderr);
  const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (outFd < 0 || errFd < 0) std::abort();
  dup2(outFd, 1);
  dup2(errFd, 2);
  close(outFd);
  close(errFd);

  auto s = std::make_unique<qmr::State>();
  const int status = qmr::runMain(*s);

  std::fflush(stdout);
  std::fflush(stderr);
  dup2(gSavedOut, 1);
  dup2(gSavedErr, 2);

  const std::string out = slurp(outPath);
  const std::string err = slurp(errPath);

  if (status == qmr::kExitInternal) finding("internal fault (status 70)", err);
  if (status < 0 || status > qmr::kExitIncomplete)
    finding("unknown exit status " + std::to_string(status), err);
  // Warnings about the deck come first, one line each; a failure's own
  // line follows them.
  std::size_t warned = 0;
  while (err.compare(warned, kWarning.size(), kWarning) == 0) {
    const std::size_t nl = err.find('\n', warned);
    if (nl == std::string::npos) break;
    warned = nl + 1;
  }
  if (status != qmr::kExitNormal && err.compare(warned, 5, "qmr: ") != 0)
    finding("a failure without its line on standard error", err);
  if (status == qmr::kExitNormal && warned != err.size())
    finding("a normal end with a report on standard error", err);

  fs::path listing;
  const bool own = ownListing(*s, listing);
  if (status == qmr::kExitNormal && own &&
      lastLine(slurp(listing)) !=
          " QMR - Quenmoor Model - SUCCESSFUL TERMINATION")
    finding("a normal end without the completion lines", err);
  if (status == qmr::kExitFailure) {
    auto framed = [](const std::string &line) {
      return line.size() >= 9 && line.rfind(" ****", 0) == 0 &&
             line.compare(line.size() - 4, 4, "****") == 0;
    };
    const bool onConsole = framed(lastLine(out));
    if (!onConsole && own && !framed(lastLine(slurp(listing))))
      finding("a framed failure without its framed line", err);
  }

  s.reset();
  clean();
  return 0;
}
