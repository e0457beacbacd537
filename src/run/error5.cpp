#include "run/run.hpp"

namespace qmr {

namespace {
void keepFault(State &s, const Unit &u) {
  if (s.io.diag.empty() && !u.fault().empty()) s.io.diag = u.fault();
}
} // namespace

// The three read failures: each ends the run with its own message.
void error5(State &s) {
  keepFault(s, s.io.u5);
  endqmr(s, 3, "ERROR OR END OF FILE ON MAIN INPUT");
}

void error8(State &s) {
  keepFault(s, s.io.u8);
  endqmr(s, 3, "ERROR OR END OF FILE ON RESTART FILE");
}

void error10(State &s) {
  keepFault(s, s.io.u10);
  endqmr(s, 3, "ERROR OR END OF FILE ON DARCY FILE");
}

void badInput(State &s, const std::string &diag) {
  s.io.diag = diag;
  error5(s);
}

} // namespace qmr
