// The readers of the main input and the files it names: the job records
// and the control data at its head, then every section of the model
// definition, read, checked, echoed to the listing and turned into the
// records of the state.
#pragma once

#include "state/state.hpp"

namespace qmr {

// Job files: the banner, the main input, the job records, and the listing,
// graphic and flux files they name.
void open1(Files &io, const Options &opt, Codes &codes);
// The parameters of the command line: each must name a value of this deck
// (a run whose deck lacks one ends before its first step).
void checkParameters(Files &io, const Options &opt, const Codes &codes,
                     int nmat, int nbt, int ndf);
// One line of the listing with the values set on the command line.
void listValuesSet(Files &io, const ParameterValues &values);
// Control data: the counts and the option codes. The counts size every
// array of the state, so it takes the whole state.
void input(State &s);

// Auxiliary file names and the mesh.
void meshgn(Files &io, const Options &opt, const Codes &codes, Mesh &mesh);
// Time steps.
void tmstep(Files &io, const Codes &codes, Clock &clock);
// Flow material properties.
void mpropf(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Media &media, FlowProperties<double> &fprop);
// Transport material properties (the width goes to the flow properties).
void mpropt(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Media &media, FlowProperties<double> &fprop,
            TransportProperties<double> &tprop);
// Prescribed nodal values.
void pbc(Files &io, const ParameterValues &values, const Mesh &mesh,
         Prescribed<double> &bc, Results &res);
// Prescribed fluxes of a flow run and of a transport run.
void pbflow(Files &io, const ParameterValues &values, const Mesh &mesh,
            Prescribed<double> &bc);
void pbtran(Files &io, const ParameterValues &values, const Mesh &mesh,
            Prescribed<double> &bc);
// Initial conditions and restart input; the first time level and the band.
void inital(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, Clock &clock, Levels<double> &lev,
            Band<double> &band);
// Non-linear iteration criteria.
void nonlin(Files &io, const Codes &codes, const FlowProperties<double> &fprop,
            Criteria &crit);
// Velocities of a transport run.
void rdarcy(Files &io, const ParameterValues &values, const Codes &codes,
            const Mesh &mesh, const FlowProperties<double> &fprop,
            TransportProperties<double> &tprop);
// Observation nodes and profile steps, and the headings of the graphic and
// flux files.
void obsnod(Files &io, const Codes &codes, const Mesh &mesh, const Clock &clock,
            const Prescribed<double> &bc, Observations &obs);
// The measured data of --observations, checked against the deck and placed
// between its nodes and step ends; a fault ends the run.
void readMeasurements(Files &io, const Options &opt, const Codes &codes,
                      const Mesh &mesh, const Clock &clock,
                      const Prescribed<double> &bc, Measurements &meas);

} // namespace qmr
