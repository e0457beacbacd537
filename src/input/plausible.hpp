// Values that read but that no physical model has (a coordinate that goes
// backwards, a negative conductivity, a porosity of 2, ...): each gives a
// warning naming the record and columns where it stands. The run goes on
// exactly as it would without the warning.
#pragma once

#include "state/state.hpp"

namespace qmr {

// Node coordinates typed by the user, eight to a record, the last of them
// in record `last`.
void plausibleCoordinates(State &s, long last);
// The record of a graded or logarithmic mesh.
void plausibleGraded(State &s, double ecord1, double ecordn, double scfact);
void plausibleLogarithmic(State &s, double ecord1, double ecordn);
// The media of the counts record: a run without media has no properties.
void plausibleMediaCount(State &s);
// One medium record of a flow or transport run, as read.
void plausibleFlowMedium(State &s, double conductivity, double specific,
                         double storage, double thickness, double width);
void plausibleTransportMedium(State &s, double dispersivity, double diffusion,
                              double porosity, double retardation, double decay,
                              double width);
// Times typed by the user (initial time and nts totals, eight to a record,
// the last in record `last`), or the step of generated times.
void plausibleTimes(State &s, long last);
void plausibleStep(State &s, double delta1);
// Node lists where one node twice makes no sense: the prescribed-value nodes
// and the observation nodes (one per record, the last in record `last`).
void plausiblePrescribedNodes(State &s, long last);
void plausibleObservationNodes(State &s, long last);
// Profile steps (one per record, the last in record `last`): increasing and
// within the run, or the profile is never stored.
void plausibleProfileSteps(State &s, long last);

} // namespace qmr
