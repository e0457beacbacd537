// The progress line of a long run: on standard error, only when it is a
// terminal, rewritten in place while the steps go on and removed at the end.
#pragma once

#include <chrono>

#include "state/state.hpp"

namespace qmr {

class Progress {
public:
  explicit Progress(const State &s);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void step(const State &s); // after each step

private:
  using Clock = std::chrono::steady_clock;
  bool on_ = false;    // standard error is a terminal and the run not quiet
  bool shown_ = false; // a line is on the terminal
  Clock::time_point start_;
  Clock::time_point last_;
};

} // namespace qmr
