#include "io/warn.hpp"
#include "stop/stop.hpp"

namespace qmr {

void fail(Files &io, std::string diag, std::string_view message) {
  io.diag = std::move(diag);
  endqmr(io, 3, message);
}

namespace {
// A failed read leaves its description in the unit; it is the diagnostic
// unless a more precise one was already given.
[[noreturn]] void readFailure(Files &io, const Unit &u,
                              std::string_view message) {
  std::string diag = io.diag.empty() ? u.fault() : io.diag;
  fail(io, std::move(diag), message);
}
} // namespace

// The three read failures: each ends the run with its own message.
void error5(Files &io) { readFailure(io, io.deck, kMainInputFailure); }
void error8(Files &io) { readFailure(io, io.restartIn, kRestartFailure); }
void error10(Files &io) { readFailure(io, io.velocity, kVelocityFailure); }

// A value rejected after a warning about the deck is most likely the
// warning's consequence: the diagnostic points back to it.
void badInput(Files &io, const std::string &diag, long rec) {
  const std::string back = rec > 0 ? lookBack(io.deck, rec) : std::string();
  fail(io, diag + back + seeWarning(io.deck), kMainInputFailure);
}

void readMain(Files &io, const Layout &f, std::span<const Ref> to) {
  if (readChecked(io.deck, f, to) != 0) error5(io);
}

} // namespace qmr
