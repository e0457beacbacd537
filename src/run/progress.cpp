#include "run/progress.hpp"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qmr {

namespace {

bool stderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// Nothing is shown in the first second, and the line changes at most five
// times a second.
constexpr std::chrono::milliseconds kQuiet{1000};
constexpr std::chrono::milliseconds kEvery{200};
constexpr int kWidth = 72;

} // namespace

Progress::Progress(const State &s)
    : on_(!s.opt.quiet && !s.opt.check && stderrIsTerminal()),
      start_(Clock::now()), last_(start_) {}

Progress::~Progress() {
  if (shown_) std::fprintf(stderr, "\r%*s\r", kWidth, "");
}

void Progress::step(const State &s) {
  if (!on_) return;
  const auto now = Clock::now();
  if (now - start_ < kQuiet || (shown_ && now - last_ < kEvery)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double left = s.clock.its > 0 ? elapsed * (s.clock.nts - s.clock.its) /
                                            static_cast<double>(s.clock.its)
                                      : 0.0;
  char line[kWidth + 1];
  std::snprintf(line, sizeof line,
                "qmr: step %d of %d, %.1f s elapsed, about %.1f s remaining",
                s.clock.its, s.clock.nts, elapsed, left);
  std::fprintf(stderr, "\r%-*s", kWidth, line);
  std::fflush(stderr);
  shown_ = true;
}

} // namespace qmr
