// Model definition input: every section of the main input after the control
// data, read, checked, echoed to the listing and turned into the state.
#pragma once

#include "state/state.hpp"

namespace qmr {

void meshgn(State &s); // auxiliary file names and the mesh
void tmstep(State &s); // time steps
void mpropf(State &s); // flow material properties
void mpropt(State &s); // transport material properties
void pbc(State &s);    // prescribed nodal values
void pbflow(State &s); // prescribed fluxes of a flow run
void pbtran(State &s); // prescribed fluxes of a transport run
void inital(State &s); // initial conditions and restart input
void nonlin(State &s); // non-linear iteration criteria
// Velocities of a transport run.
void rdarcy(Files &io, const Codes &codes, const Mesh &mesh,
            const FlowProperties<double> &fprop,
            TransportProperties<double> &tprop);
void obsnod(State &s); // observation nodes and profile steps

} // namespace qmr
