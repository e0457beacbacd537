#include "layout/warn.hpp"
#include "stop/stop.hpp"

namespace qmr {

void fail(State &s, std::string diag, std::string_view message) {
  s.io.diag = std::move(diag);
  endqmr(s, 3, message);
}

namespace {
// A failed read leaves its description in the unit; it is the diagnostic
// unless a more precise one was already given.
[[noreturn]] void readFailure(State &s, const Unit &u,
                              std::string_view message) {
  std::string diag = s.io.diag.empty() ? u.fault() : s.io.diag;
  fail(s, std::move(diag), message);
}
} // namespace

// The three read failures: each ends the run with its own message.
void error5(State &s) { readFailure(s, s.io.u5, kMainInputFailure); }
void error8(State &s) { readFailure(s, s.io.u8, kRestartFailure); }
void error10(State &s) { readFailure(s, s.io.u10, kVelocityFailure); }

// A value rejected after a warning about the deck is most likely the
// warning's consequence: the diagnostic points back to it.
void badInput(State &s, const std::string &diag, long rec) {
  const std::string back = rec > 0 ? lookBack(s.io.u5, rec) : std::string();
  fail(s, diag + back + seeWarning(s.io.u5), kMainInputFailure);
}

void readMain(State &s, const Layout &f, std::span<const Ref> to) {
  if (readChecked(s.io.u5, f, to) != 0) error5(s);
}

} // namespace qmr
