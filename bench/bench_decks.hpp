// The decks of the whole-run benchmarks: a 15 km valley of 300 elements of
// 50 m in three zones of 100 elements (widths 400, 900, 600 m), 101
// logarithmic steps from 0.1 day (20 per factor ten, to 10000 days), 20
// observation nodes (every 750 m) and 20 profiles (every 5th step).
#pragma once

#include <string>

#include "deck.hpp"

namespace qmrbench {

inline const double kWidths[] = {400.0, 900.0, 600.0};

// The valley on ne elements (300 at the legacy capacity).
inline void fullCapacity(qmrtest::RunDeck &d, int ne = 300) {
  d.ne = ne;
  d.xn = 15000.0;
  d.zones = {1, ne / 3 + 1, 2 * ne / 3 + 1};
  d.nts = 101;
  d.delta1 = 0.1;
  d.ntslog = 20;
  for (int k = 1; k <= 20; ++k) d.observations.push_back(ne / 20 * k + 1);
  for (int k = 1; k <= 20; ++k) d.profiles.push_back(5 * k);
}

// Unconfined aquifer on a base at 0 m, K = 30 m/d, specific yield 0.15,
// recharge 0.2 mm/d, an aquitard (1E-4 1/d) below a water body at 18 m with
// its leakage capped at 0.2 mm/d; heads 20 m and 10 m at the ends, 12 m at
// the start; with a velocity file of a block every step. Not waterTable: a
// confined aquifer 15 m thick (specific storage 1E-5, storage coefficient
// 1E-3) under the same aquitard, uncapped: one iteration a step.
inline std::string flowDeck(bool waterTable = true, int ne = 300,
                            bool velocity = true) {
  qmrtest::FlowDeck d;
  d.listing = "flow.lst";
  d.graphic = "flow.grf";
  d.flux = "flow.flx";
  d.title = "benchmark: flow run at full capacity";
  fullCapacity(d, ne);
  d.restartOut = "flow.rst";
  if (velocity) {
    d.velocity = "bench.vel";
    d.codes.iodarc = 2; // one block per step
  }
  d.media.clear();
  if (waterTable) {
    d.codes.i2dwt = 1;
    for (double w : kWidths)
      d.media.push_back(
          {30.0, 0.0, 0.15, 0.0, 0.0002, 0.0001, 18.0, w, 0.0002});
    d.nitmax = 100; // iteration criteria
    d.toler = 0.001;
    d.relax = 0.75;
  } else {
    for (double w : kWidths)
      d.media.push_back({30.0, 1e-5, 0.001, 15.0, 0.0002, 0.0001, 18.0, w});
  }
  d.values = {{1, 20.0}, {ne + 1, 10.0}};
  d.initial = 12.0;
  return d.text();
}

// Dispersivity 50 m, diffusion 1E-4 m2/d, porosity 0.2, retardation 1.5,
// decay 1E-4 1/d; 100 mg/L held at node 1. Velocities from the flow run's
// file (iodarc = 2) or a default Darcy velocity of 0.05 m/d in 15 m.
inline std::string transportDeck(int iodarc) {
  qmrtest::TransportDeck d;
  d.listing = "trans.lst";
  d.graphic = "trans.grf";
  d.flux = "trans.flx";
  d.title = "benchmark: transport run at full capacity";
  fullCapacity(d);
  d.restartOut = "trans.rst";
  if (iodarc > 0) {
    d.velocity = "bench.vel";
    d.codes.iodarc = iodarc;
  }
  d.media.clear();
  for (double w : kWidths)
    d.media.push_back({50.0, 0.0001, 0.2, 1.5, 0.0001, 0.0, 0.0, w});
  d.values = {{1, 100.0}};
  d.darcy = 0.05;
  d.thick = 15.0;
  return d.text();
}

} // namespace qmrbench
