// X.match.csv beside the graphic file X (--observations): one row per
// measurement, in the order of its file, the measured value against the
// simulated one, every number in the shortest text that reads back to the
// same double. The simulated values are followed through the steps; the rows
// are written when the last step is done.
#include <string>

#include "output/output.hpp"
#include "stop/stop.hpp"

namespace qmr {

void openmatch(Files &io, const Options &opt, const Mesh &mesh,
               const Prescribed<double> &bc, const Levels<double> &lev,
               Measurements &meas) {
  // A check of the deck checks the name and makes no file.
  openOrFail(io.matchCsv, besideGraphic(io, ".match.csv"), "match file",
             opt.check ? &Unit::openDiscard : &Unit::openWrite,
             {&io.deck, &io.listing, &io.graphic, &io.flux, &io.restartOut,
              &io.velocity, &io.obsCsv, &io.profCsv, &io.fluxCsv,
              &io.balanceCsv});
  io.matchCsv.put("name,group,kind,x,time,measured,simulated,residual,weight,"
                  "weighted_residual");
  meas.run.start(meas.rows, meas.nodes, mesh.np, bc.nbt,
                 [&lev](int ip) { return lev.hdold(ip); });
}

void matchstep(const Clock &clock, const Prescribed<double> &bc,
               const Levels<double> &lev, Measurements &meas) {
  meas.run.step(
      meas.rows, meas.nodes, bc.nbt, clock.its,
      [&lev](int ip) { return lev.hdnew(ip); },
      [&bc](int k) { return bc.qvalb(k); }, clock.delta);
}

void matchrows(Files &io, const Measurements &meas) {
  for (std::size_t i = 0; i < meas.rows.size(); ++i) {
    const Measured &m = meas.rows[i];
    const double simulated = meas.run.simulated[i];
    const double residual = m.value - simulated;
    io.matchCsv.put(m.name + ',' + m.group + ',' + kindName(m.kind) + ',' +
                    shortest(m.x) + ',' + shortest(m.time) + ',' +
                    shortest(m.value) + ',' + shortest(simulated) + ',' +
                    shortest(residual) + ',' + shortest(m.weight) + ',' +
                    shortest(m.weight * residual));
  }
}

} // namespace qmr
