// Values that read but that no physical model has (a coordinate that goes
// backwards, a negative conductivity, a porosity of 2, ...): each gives a
// warning naming the record and columns where it stands. The run goes on
// exactly as it would without the warning.
#pragma once

#include "state/state.hpp"

namespace qmr {

// Node coordinates typed by the user, eight to a record, the last of them
// in record `last`.
void plausibleCoordinates(const Files &io, const Mesh &mesh, long last);
// The record of a graded or logarithmic mesh.
void plausibleGraded(const Files &io, double ecord1, double ecordn,
                     double scfact);
void plausibleLogarithmic(const Files &io, double ecord1, double ecordn);
// The media of the counts record: a run without media has no properties.
void plausibleMediaCount(const Files &io, const Codes &codes, const Mesh &mesh,
                         const Media &media);
// One medium record of a flow or transport run, as read.
void plausibleFlowMedium(const Files &io, const Codes &codes,
                         double conductivity, double specific, double storage,
                         double thickness, double width);
void plausibleTransportMedium(const Files &io, double dispersivity,
                              double diffusion, double porosity,
                              double retardation, double decay, double width);
// Times typed by the user (initial time and nts totals, eight to a record,
// the last in record `last`), or the step of generated times.
void plausibleTimes(const Files &io, const Clock &clock, long last);
void plausibleStep(const Files &io, double delta1);
// Node lists where one node twice makes no sense: the prescribed-value nodes
// and the observation nodes (one per record, the last in record `last`).
void plausiblePrescribedNodes(const Files &io, const Prescribed<double> &bc,
                              long last);
void plausibleObservationNodes(const Files &io, const Observations &obs,
                               long last);
// Profile steps (one per record, the last in record `last`): increasing and
// within the run, or the profile is never stored.
void plausibleProfileSteps(const Files &io, const Clock &clock,
                           const Observations &obs, long last);

} // namespace qmr
