// Step output: the values of the step become the old values of the next
// step, and the graphic file receives the observation row of the step.
#include <cmath>
#include <vector>

#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "output/logpos.hpp"
#include "output/output.hpp"

namespace qmr {

void outpro(State &s) {
  for (int ip = 1; ip <= s.np; ++ip) s.hdold(ip) = s.hdnew(ip);

  const double timlog = logpos(s.ttime);

  // Observation values are written in single precision; magnitudes below
  // the threshold show as zero.
  for (s.iobs = 1; s.iobs <= s.nobs; ++s.iobs) {
    double tldobs = s.hdnew(s.ldobs(s.iobs));
    if (std::fabs(tldobs) < static_cast<double>(1.0E-3f)) tldobs = 0.0;
    s.tlobs(s.iobs) = static_cast<float>(tldobs);
  }

  std::vector<Val> row{s.its, s.ttime, timlog};
  for (int k = 1; k <= s.nobs; ++k) row.emplace_back(s.tlobs(k));
  write(s.io.u7, kRow, row);
}

} // namespace qmr
