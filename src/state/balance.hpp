// The mass balance of one time step, as terms computed by the step drivers
// and then printed (listing) or written (CSV files), on any number type. Every
// term is an amount over the whole step: a volume of water per unit length of
// valley in a flow run, a mass of solute in a transport run (per radian in a
// radial run).
#pragma once

namespace qmr {

// Flow: every term but the storage is the amount entering the aquifer over
// the step (negative when it leaves).
template <class T> struct FlowBalanceOf {
  T head = 0.0;      // at the prescribed-head nodes (their reactions)
  T flux = 0.0;      // at the prescribed-flux nodes
  T recharge = 0.0;  // with the distributed recharge
  T leakage = 0.0;   // through the aquitard
  T storage = 0.0;   // increase held in storage (0 in a steady state)
  T imbalance = 0.0; // mass in - mass increase
};

// Transport: the terms of the discrete equations summed over every node.
// Every term but the storage is the mass entering over the step (negative
// when it leaves); storage is the increase of the dissolved and sorbed mass.
template <class T> struct SoluteBalanceOf {
  T value = 0.0;       // reactions at the prescribed-concentration nodes
  T flux = 0.0;        // prescribed fluxes of concentration
  T fluid = 0.0;       // prescribed fluid fluxes (solute removed)
  T recharge = 0.0;    // solute brought by the recharge water
  T rechargeDil = 0.0; // dilution of the resident water by recharge
  T leakage = 0.0;     // solute brought by the leaking water
  T leakageDil = 0.0;  // dilution of the resident water by leakage
  T decay = 0.0;       // lost to decay
  T inFirst = 0.0;     // advection across the end at the first node
  T inLast = 0.0;      // advection across the end at the last node
  T divergence = 0.0;  // interior divergence of the advective form
  T storage = 0.0;     // increase of the mass in the aquifer
  T imbalance = 0.0;   // sum of the entering terms - storage
};

// The balances of the program's run, in doubles; the templates also serve
// number types that carry derivatives.
using FlowBalance = FlowBalanceOf<double>;
using SoluteBalance = SoluteBalanceOf<double>;

} // namespace qmr
