// The command line: qmr [options] [DECK].
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    "  --set PATH=VALUE  give a deck value at full precision (repeatable);\n"
    "                    PATH as media[1].conductivity, initial_value\n"
    "  --parameters FILE values for the deck from FILE, one \"PATH VALUE\"\n"
    "                    a line (# comments); --set wins over the file\n"
    "  --sensitivity PATH  write the derivatives of the outputs with respect\n"
    "                    to PATH to X.sens.csv beside the graphic file X\n"
    "                    (repeatable)\n"
    "  --sensitivities FILE  the same for every path in FILE, one a line\n"
    "  --sensitivity-outputs LIST  which outputs: observations, profiles,\n"
    "                    fluxes, balance (default observations,fluxes)\n"
    "  --observations FILE  measured data (CSV: name, x or node, time,\n"
    "                    value, sd, group, kind); writes X.match.csv beside\n"
    "                    the graphic file X, measured against simulated,\n"
    "                    and with --sensitivity their derivatives\n"
    "  --parameter-names the parameter paths, one a line\n"
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
  ParameterValues setValues, fileValues;
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
    } else if (options && arg == "--parameter-names") {
      for (const ParamName &n : parameterNames())
        std::printf("%.*s\n", static_cast<int>(n.name.size()), n.name.data());
      return kExitNormal;
    } else if (options && (arg == "--set" || arg.starts_with("--set="))) {
      std::string pv;
      if (!value("--set", pv)) return usageError("--set needs PATH=VALUE");
      const std::size_t eq = pv.find('=');
      const std::optional<double> v =
          eq == std::string::npos
              ? std::nullopt
              : wholeNumber(std::string_view(pv).substr(eq + 1));
      if (!v)
        return usageError("--set takes PATH=VALUE with a number, not \"" + pv +
                          "\"");
      std::string why;
      const auto p = parseParameter(pv.substr(0, eq), why);
      if (!p) return usageError("--set " + why);
      for (const auto &q : setValues.all())
        if (q.first.path == p->path)
          return usageError("--set " + p->path + " is given twice");
      setValues.set(*p, *v);
    } else if (options &&
               (arg == "--parameters" || arg.starts_with("--parameters="))) {
      std::string file;
      if (!value("--parameters", file))
        return usageError("--parameters needs a file");
      std::string why;
      if (!readParameterFile(file, fileValues, why)) return usageError(why);
    } else if (options && (arg == "--observations" ||
                           arg.starts_with("--observations="))) {
      std::string file;
      if (!value("--observations", file))
        return usageError("--observations needs a file");
      if (!opt.observations.empty())
        return usageError("--observations is given twice");
      std::ifstream in(file, std::ios::binary);
      if (file.empty() || !in)
        return usageError("cannot read the observation file \"" + file + "\"");
      std::ostringstream text;
      text << in.rdbuf(); // an empty file gives an empty text
      opt.observations = file;
      opt.observationsText = text.str();
    } else if (options && (arg == "--sensitivity-outputs" ||
                           arg.starts_with("--sensitivity-outputs="))) {
      std::string list;
      if (!value("--sensitivity-outputs", list))
        return usageError("--sensitivity-outputs needs a list");
      opt.sensObservations = opt.sensProfiles = opt.sensFluxes = false;
      opt.sensBalance = false;
      std::size_t at = 0;
      while (at <= list.size()) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string w = list.substr(at, end - at);
        if (w == "observations")
          opt.sensObservations = true;
        else if (w == "profiles")
          opt.sensProfiles = true;
        else if (w == "fluxes")
          opt.sensFluxes = true;
        else if (w == "balance")
          opt.sensBalance = true;
        else
          return usageError(
              "--sensitivity-outputs: \"" + w +
              "\" is none of observations, profiles, fluxes, balance");
        at = end + 1;
      }
    } else if (options &&
               (arg == "--sensitivity" || arg.starts_with("--sensitivity="))) {
      std::string path;
      if (!value("--sensitivity", path))
        return usageError("--sensitivity needs a parameter path");
      std::string why;
      const auto p = parseParameter(path, why);
      if (!p) return usageError("--sensitivity " + why);
      opt.sensitivity.push_back(*p);
    } else if (options && (arg == "--sensitivities" ||
                           arg.starts_with("--sensitivities="))) {
      std::string file;
      if (!value("--sensitivities", file))
        return usageError("--sensitivities needs a file");
      std::string why;
      if (!readParameterList(file, opt.sensitivity, why))
        return usageError("--sensitivities " + why);
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
  // The file's values first; --set wins over them.
  for (const auto &[p, v] : fileValues.all()) opt.values.set(p, v);
  for (const auto &[p, v] : setValues.all()) opt.values.set(p, v);
  // A parameter asked twice for its derivative is one column of the table.
  for (std::size_t i = 0; i < opt.sensitivity.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (opt.sensitivity[i].path == opt.sensitivity[j].path)
        return usageError("--sensitivity " + opt.sensitivity[i].path +
                          " is given twice");
  return -1;
}

} // namespace qmr
