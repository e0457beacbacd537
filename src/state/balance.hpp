// The mass balance of one time step, as terms computed by the step drivers
// and then printed (listing) or written (CSV files). Every term is an amount
// over the whole step: a volume of water per unit length of valley in a flow
// run, a mass of solute in a transport run (per radian in a radial run).
#pragma once

namespace qmr {

// Flow: every term but the storage is the amount entering the aquifer over
// the step (negative when it leaves).
struct FlowBalance {
  double head = 0.0;      // at the prescribed-head nodes (their reactions)
  double flux = 0.0;      // at the prescribed-flux nodes
  double recharge = 0.0;  // with the distributed recharge
  double leakage = 0.0;   // through the aquitard
  double storage = 0.0;   // increase held in storage (0 in a steady state)
  double imbalance = 0.0; // mass in - mass increase
};

// Transport: the terms of the discrete equations summed over every node.
// Every term but the storage is the mass entering over the step (negative
// when it leaves); storage is the increase of the dissolved and sorbed mass.
struct SoluteBalance {
  double value = 0.0;       // reactions at the prescribed-concentration nodes
  double flux = 0.0;        // prescribed fluxes of concentration
  double fluid = 0.0;       // prescribed fluid fluxes (solute removed)
  double recharge = 0.0;    // solute brought by the recharge water
  double rechargeDil = 0.0; // dilution of the resident water by recharge
  double leakage = 0.0;     // solute brought by the leaking water
  double leakageDil = 0.0;  // dilution of the resident water by leakage
  double decay = 0.0;       // lost to decay
  double inFirst = 0.0;     // advection across the end at the first node
  double inLast = 0.0;      // advection across the end at the last node
  double divergence = 0.0;  // interior divergence of the advective form
  double storage = 0.0;     // increase of the mass in the aquifer
  double imbalance = 0.0;   // sum of the entering terms - storage
};

} // namespace qmr
