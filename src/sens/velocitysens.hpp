// The derivatives of a flow run's velocity records with respect to its
// parameters (V.sens.csv beside its velocity file V), which a transport run
// of the chain carries through the velocities it reads.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "state/state.hpp"

namespace qmr {

inline constexpr const char *kVelocityHeader =
    "parameter,step,element,darcy,thickness,leakage,recharge";

// Per parameter (its path without the "flow." prefix) and block, per
// element the derivatives of the Darcy velocity, thickness, leakage and
// recharge.
struct VelocityDerivatives {
  using Block = std::vector<std::array<double, 4>>; // [element - 1]
  std::map<std::string, std::vector<Block>> blocks;
};

// A flow parameter's path without its "flow." prefix.
std::string withoutFlow(const std::string &path);

// Reads V.sens.csv for the flow parameters of a transport run; a file that
// is missing or lacks a parameter ends the run.
VelocityDerivatives readVelocityDerivatives(Files &io, const std::string &name,
                                            const std::vector<Parameter> &ps,
                                            int ne);

} // namespace qmr
