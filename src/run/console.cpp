// The standard streams' set-up: only Windows translates line ends and
// needs the console told that the program writes UTF-8.
#include "run/run.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#endif

namespace qmr {

ConsoleSetUp::ConsoleSetUp() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  savedCodePage_ = GetConsoleOutputCP(); // 0 without a console
  if (savedCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);
#endif
}

ConsoleSetUp::~ConsoleSetUp() {
#ifdef _WIN32
  if (savedCodePage_ != 0) SetConsoleOutputCP(savedCodePage_);
#endif
}

} // namespace qmr
