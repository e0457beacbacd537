// Step output: the values of the step become the old values of the next
// step, and the graphic file receives the observation row of the step.
#include <cmath>
#include <vector>

#include "io/layout.hpp"
#include "io/records.hpp"
#include "output/logpos.hpp"
#include "output/output.hpp"

namespace qmr {

void outpro(Files &io, const Mesh &mesh, const Clock &clock,
            Levels<double> &lev, Observations &obs) {
  for (int ip = 1; ip <= mesh.np; ++ip) lev.hdold(ip) = lev.hdnew(ip);

  const double timlog = logpos(clock.ttime);

  // Observation values are written in single precision; magnitudes below
  // the threshold show as zero.
  for (int iobs = 1; iobs <= obs.nobs; ++iobs) {
    double tldobs = lev.hdnew(obs.ldobs(iobs));
    if (std::fabs(tldobs) < static_cast<double>(1.0E-3f)) tldobs = 0.0;
    obs.tlobs(iobs) = static_cast<float>(tldobs);
  }

  std::vector<Val> row{clock.its, clock.ttime, timlog};
  for (int k = 1; k <= obs.nobs; ++k) row.emplace_back(obs.tlobs(k));
  write(io.graphic, kRow, row);
}

} // namespace qmr
