#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "run/run.hpp"

// qmr [options] [DECK]: without arguments it reads VELDA.INP in the working
// folder.
int main(int argc, char **argv) {
  const qmr::ConsoleSetUp console;
  auto s = std::make_unique<qmr::State>();
  const int status = qmr::commandLine(argc, argv, s->opt);
  if (status >= 0) return status;
  if (!s->opt.dir.empty()) {
    std::error_code ec;
    std::filesystem::current_path(s->opt.dir, ec);
    if (ec) {
      std::fprintf(stderr, "qmr: cannot change to the folder \"%s\": %s\n",
                   s->opt.dir.c_str(), ec.message().c_str());
      return s->opt.check ? qmr::kExitFailure : qmr::kExitFile;
    }
  }
  return qmr::runMain(*s);
}
