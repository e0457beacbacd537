// The command line: qmr [options] [DECK].
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "run/run.hpp"

namespace qmr {

namespace {

constexpr int kExitUsage = 64;

const char *const kUsage =
    "usage: qmr [options] [DECK]\n"
    "\n"
    "Runs the deck DECK (default: VELDA.INP in the working folder). File\n"
    "names in the deck are relative to the working folder.\n"
    "\n"
    "options:\n"
    "  -C DIR            change to the folder DIR first (DECK is found there)\n"
    "  --quiet           no banner and no progress line; failures still\n"
    "                    go to standard error\n"
    "  --check           read and check the whole deck and the files it\n"
    "                    reads, run nothing, write no file; exit status 0\n"
    "                    when the deck would run, 1 when it would fail\n"
    "  --csv             also write the CSV files (observations, profiles,\n"
    "                    fluxes, mass balance) named after the graphic file\n"
    "  --no-listing      write no listing (a file of its name is left as it\n"
    "                    is); an element gone dry or a failed convergence is\n"
    "                    told on standard error\n"
    "  --print-every N   step reports in the listing only on steps that are\n"
    "                    multiples of N\n"
    "  --help            show this text\n"
    "  --version         show the version\n";

int usageError(const std::string &what) {
  std::fprintf(stderr, "qmr: %s\n%s", what.c_str(), kUsage);
  return kExitUsage;
}

// A positive whole number, nothing else.
bool positive(std::string_view text, int &n) {
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, n);
  return r.ec == std::errc() && r.ptr == end && n >= 1;
}

} // namespace

int commandLine(int argc, char **argv, Options &opt) {
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // The value of an option: joined by "=" or the next argument.
    auto value = [&](std::string_view name, std::string &into) {
      if (arg.size() > name.size() && arg[name.size()] == '=') {
        into = arg.substr(name.size() + 1);
        return true;
      }
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitNormal;
    } else if (options && arg == "--version") {
      std::puts("qmr 10.0");
      return kExitNormal;
    } else if (options && arg == "--quiet") {
      opt.quiet = true;
    } else if (options && arg == "--check") {
      opt.check = true;
    } else if (options && arg == "--csv") {
      opt.csv = true;
    } else if (options && arg == "--no-listing") {
      opt.noListing = true;
    } else if (options && (arg == "--print-every" ||
                           arg.substr(0, 14) == "--print-every=")) {
      std::string n;
      if (!value("--print-every", n))
        return usageError("--print-every needs a number of steps");
      if (!positive(n, opt.printEvery))
        return usageError("--print-every takes a whole number of steps of "
                          "at least 1, not \"" +
                          n + "\"");
    } else if (options && arg.starts_with("-C")) {
      std::string dir;
      if (arg.size() > 2) {
        dir = arg.substr(2);
      } else if (i + 1 < argc) {
        dir = argv[++i];
      } else {
        return usageError("-C needs a folder");
      }
      if (dir.empty()) return usageError("-C needs a folder");
      // Several -C accumulate, each relative to the one before.
      opt.dir = opt.dir.empty()
                    ? dir
                    : (std::filesystem::path(opt.dir) / dir).string();
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option \"" + std::string(arg) + "\"");
    } else if (opt.deck.empty()) {
      if (arg.empty()) return usageError("the deck name is empty");
      opt.deck = arg;
    } else {
      return usageError("more than one deck: \"" + opt.deck + "\" and \"" +
                        std::string(arg) + "\"");
    }
  }
  return -1;
}

} // namespace qmr
