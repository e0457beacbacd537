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
  for (int ip = 1; ip <= s.mesh.np; ++ip) s.lev.hdold(ip) = s.lev.hdnew(ip);

  const double timlog = logpos(s.clock.ttime);

  // Observation values are written in single precision; magnitudes below
  // the threshold show as zero.
  for (int iobs = 1; iobs <= s.obs.nobs; ++iobs) {
    double tldobs = s.lev.hdnew(s.obs.ldobs(iobs));
    if (std::fabs(tldobs) < static_cast<double>(1.0E-3f)) tldobs = 0.0;
    s.obs.tlobs(iobs) = static_cast<float>(tldobs);
  }

  std::vector<Val> row{s.clock.its, s.clock.ttime, timlog};
  for (int k = 1; k <= s.obs.nobs; ++k) row.emplace_back(s.obs.tlobs(k));
  write(s.io.graphic, kRow, row);
}

} // namespace qmr
