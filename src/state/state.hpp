// The model state: every value of a run, in records named for what they
// hold. Every member is zero when a State is made. The run sequence takes the
// whole state; the routines below it take the records they read and write.
//
// The arrays start with the capacities of the original fixed-size design
// (kLegacy*) and are sized from the counts of the deck when the counts are
// read (sizeArrays, called by input): a model within those capacities keeps
// exactly the storage it always had, a larger one gets what its counts need,
// up to the limits (kLimit*) that input enforces.
//
// Units: the program converts nothing; every value is in the user's own
// consistent units, written below as [L] length, [T] time, [C]
// concentration, [-] dimensionless. "Per metre of valley" values are the
// aquifer property times the aquifer width.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "io/unit.hpp"
#include "state/balance.hpp"
#include "state/fixed.hpp"
#include "state/measured.hpp"
#include "state/options.hpp"

namespace qmr {

// Capacities of the original fixed-size design. A deck within all of them is
// a legacy deck: its files keep their legacy bytes, integers that do not fit
// their fields included (written as asterisks).
inline constexpr int kLegacyEl = 300;  // elements
inline constexpr int kLegacyNp = 301;  // nodes (= equations)
inline constexpr int kLegacyTs = 101;  // time steps
inline constexpr int kLegacyMat = 10;  // media
inline constexpr int kLegacyBt = 10;   // prescribed-value nodes
inline constexpr int kLegacySb = 301;  // prescribed-flux records
inline constexpr int kLegacyObs = 20;  // observation nodes
inline constexpr int kLegacyProf = 20; // profiles

// Limits of a deck: what the fields of the files can name. Node numbers stand
// in five-column fields (99,999 nodes, so 99,998 elements); a row of the
// graphic or flux file holds 40 values beside its step or node, time or
// coordinate and logarithm.
inline constexpr int kLimitEl = 99998;
inline constexpr int kLimitNp = kLimitEl + 1;
inline constexpr int kLimitTs = 99999;
inline constexpr int kLimitMat = 99999;
inline constexpr int kLimitBt = 40;
inline constexpr int kLimitSb = 99999;
inline constexpr int kLimitObs = 40;
inline constexpr int kLimitProf = 40;

inline constexpr int kBand = 3;  // columns of the banded matrix
inline constexpr int kSlots = 9; // property slots of a medium

// Run types (imode), from the first letter of the deck.
inline constexpr int kNoRun = 0;        // neither letter: no run is made
inline constexpr int kFlowRun = 1;      // "F": heads
inline constexpr int kTransportRun = 2; // "T": concentrations

// --- the records of the model state ---------------------------------------
// Each record holds one kind of value and keeps the member names the
// routines have always used. The records whose values the finite-element
// core computes with are templates on the number type: the program runs
// them on double; a derivative can be carried through them on a number type
// that holds one as well.

// The files of a run, by their role, and the diagnostic that goes to
// standard error when the run fails.
struct Files {
  Unit console;     // standard output
  Unit deck;        // the main input
  Unit listing;     // the report of the run
  Unit graphic;     // observation rows and the profile table
  Unit flux;        // the flux file
  Unit restartIn;   // restart file to read
  Unit restartOut;  // restart file to write
  Unit velocity;    // velocity file (written by flow, read by transport)
  Unit obsCsv;      // --csv: observations
  Unit profCsv;     // --csv: profiles
  Unit fluxCsv;     // --csv: fluxes at the prescribed-value nodes
  Unit balanceCsv;  // --csv: mass balance
  Unit sensCsv;     // --sensitivity: derivatives of the outputs
  Unit velSensCsv;  // --sensitivity: derivatives of the velocity records
  Unit matchCsv;    // --observations: measured against simulated values
  std::string diag; // one line saying what failed and where
  bool listingOpen = false; // before, the listing's lines go to the console

  Unit &lst() { return listing; }
  // From now on every unit writes an integer that does not fit its field in
  // a field just wide enough for it (a run beyond the legacy capacities).
  void widenIntegers() {
    for (Unit *u : {&console, &flux, &deck, &listing, &graphic, &restartIn,
                    &restartOut, &velocity})
      u->setWidenIntegers(true);
  }
};

// The deck's run type, option codes and the counts that no other record
// holds.
struct Codes {
  int imode = 0;  // run type: kFlowRun, kTransportRun or kNoRun
  int iflux = 0;  // 1: a flux file is written
  int imshgn = 0; // mesh code: 1, 2 graded, 3 logarithmic, else typed in
  int iaxsym = 0; // 0 planar, otherwise radial (coordinates are radii)
  int istep = 0;  // flow step reports on steps that are multiples of it
  int ikall = 0;  // 0: time weight 0.5 from step 2 on; else 1.0 always
  int ioread = 0; // 1: initial values from a restart file
  int iowrit = 0; // 1: a restart file is written at the end
  int iodarc = 0; // velocity file code (written by flow, read by transport)
  int itsgn = 0;  // time steps: 0 typed in, otherwise generated
  int i2dwt = 0;  // water-table (non-linear) code: 0 confined, linear
  int isstat = 0; // 1: steady state
  int ipcode = 0; // media: 0 one per element, 1 zones, 2 interpolated
  int nonu = 0;   // number of non-uniform initial values
};

// The mesh: nodes, elements and their coordinates.
struct Mesh {
  int np = 0;                    // number of nodes, ne + 1
  int ne = 0;                    // number of elements
  int nd = 0;                    // number of equations, ndofn × np
  int ndofn = 0;                 // values per node (always 1)
  Arr<double, kLegacyNp> ecoord; // coordinate (radius) of each node [L]
  Arr<double, kLegacyEl> xcoord; // mid-point coordinate of each element [L]
  Arr<double, kLegacyEl> elen;   // length of each element [L]
};

// The media as read, and which medium (or zone) each element takes.
struct Media {
  int nmat = 0;             // number of media (material layers)
  Arr<int, kLegacyEl> lmat; // medium of each element, or zone starts
  Arr2<double, kSlots, kLegacyMat> prop; // prop(slot, medium), as read
  // (medium, slot) of each value 0 that the reader took for 1 (a width, a
  // confined thickness, a retardation): a value with no derivative.
  std::vector<std::array<int, 2>> standsForOne;
};

// Flow properties per element, per metre of valley (property × width).
template <class T> struct FlowProperties {
  Arr<T, kLegacyEl> etran;   // conductivity × width [L²/T]
  Arr<T, kLegacyEl> estor;   // storage coefficient × width [L]
  Arr<T, kLegacyEl> eqrch;   // recharge × width [L²/T]
  Arr<T, kLegacyEl> espec;   // specific storage × width [-]
  Arr<T, kLegacyEl> ebott;   // thickness or base elevation [L]
  Arr<T, kLegacyEl> eleak;   // leakage coefficient × width [L/T]
  Arr<T, kLegacyEl> ehfix;   // fixed head beyond the aquitard [L]
  Arr<T, kLegacyEl> ewide;   // aquifer width [L]
  Arr<T, kLegacyEl> eqmax;   // maximum leakage rate × width [L²/T]
  Arr<int, kLegacyNp> iqmax; // per element: 1 when its leakage is capped
  int ilqmax = 0;            // 1 when some medium caps its leakage rate
};

// Transport properties per element, and the flow field the run takes from
// the velocity file or the defaults.
template <class T> struct TransportProperties {
  Arr<T, kLegacyEl> alfal; // effective longitudinal dispersivity [L]
  Arr<T, kLegacyEl> difus; // effective diffusion coefficient [L²/T]
  Arr<T, kLegacyEl> poros; // effective porosity × width [L]
  Arr<T, kLegacyEl> retar; // retardation factor [-]
  Arr<T, kLegacyEl> decay; // decay coefficient [1/T]
  Arr<T, kLegacyEl> crech; // concentration of the recharge [C]
  Arr<T, kLegacyEl> cleak; // concentration of the aquitard fluid [C]
  Arr<T, kLegacyEl> qrech; // recharge rate per metre of valley [L²/T]
  Arr<T, kLegacyEl> darcy; // Darcy velocity × width, + towards ie+1 [L²/T]
  Arr<T, kLegacyEl> thick; // saturated thickness [L]
  Arr<T, kLegacyEl> qleak; // leakage rate per metre of valley [L²/T]
  T edarcy = 0.0; // the deck's default Darcy velocity (per unit width) [L/T]
  T ethick = 0.0; // the deck's default saturated thickness [L]
};

// The clock: the times of the steps and the time weighting of the current
// step.
struct Clock {
  int nts = 0;                   // number of time steps (1 in a steady state)
  int its = 0;                   // current time step, from 1
  double tima = 0.0;             // initial time [T]
  double ttime = 0.0;            // time at the end of the current step [T]
  double ptime = 0.0;            // time of the previous time level [T]
  double delta = 0.0;            // length of the current time step [T]
  double theta = 0.0;            // weight of the new time level [-]
  double thetm = 0.0;            // 1 - theta [-]
  double thtm1 = 0.0;            // -(1 - theta) [-]
  double asign = 0.0;            // storage switch: 1.0 transient, 0.0 steady
  Arr<double, kLegacyTs> timvec; // time at the end of each step [T]
};

// Control of the iteration of a step.
struct Criteria {
  double toler = 0.0; // convergence tolerance of the iteration [L] or [C]
  int nitmax = 0;     // maximum number of iterations per step
  double relax = 0.0; // relaxation factor of the iteration [-]
};

// Prescribed values and fluxes, and the reactions at the prescribed-value
// nodes from the last solution.
template <class T> struct Prescribed {
  int nbt = 0;              // number of prescribed-value nodes
  int ndf = 0;              // number of prescribed-flux records
  int nsb = 0;              // prescribed-flux records in use (copy of ndf)
  Arr<int, kLegacyBt> idv;  // node of each prescribed-value node
  Arr<T, kLegacyBt> valb;   // prescribed head [L] or concentration [C]
  Arr<T, kLegacyBt> qvalb;  // reaction flux from the last solution
  Arr<int, kLegacySb> isbv; // node of each prescribed-flux record
  Arr<T, kLegacySb> bslod;  // prescribed flux [L³/T] (flow) or of mass
  Arr<T, kLegacySb> bslqw;  // prescribed fluid flux (transport) [L³/T]
};

// The nodal values: head [L] or concentration [C].
template <class T> struct Levels {
  Arr<T, kLegacyNp> hdold; // at the start of the step
  Arr<T, kLegacyNp> hdnew; // at the step's end (the current iterate)
  std::vector<int> npnonu; // node of each non-uniform initial value, as read
};

// The banded system of one iteration: astif(ip, 1..3) holds the left
// neighbour, the diagonal and the right neighbour of equation ip.
template <class T> struct Band {
  int ifullb = 0; // stored columns of the banded matrix (3)
  int ihalfb = 0; // half band width (1)
  int ihbp = 0;   // column of the diagonal in the banded matrix (2)
  Arr2<T, kLegacyNp, kBand> astif;
  Arr<T, kLegacyNp> aslod; // right-hand side, then the solution
};

// Observation nodes and profiles: what the graphic file receives.
struct Observations {
  int nobs = 0;                  // number of observation nodes
  int ntprof = 0;                // number of profiles
  int itprof = 0;                // next profile to store
  Arr<int, kLegacyObs> ldobs;    // node of each observation node
  Arr<int, kLegacyProf> ltprof;  // step of each profile, in the order read
  Arr<float, kLegacyProf> tprof; // every profile at one node (one row)
  Arr<float, kLegacyObs> tlobs;  // every observation node at one step
  // tmprof(profile, node): the stored profiles [L] or [C].
  Arr2<double, kLegacyProf, kLegacyNp> tmprof;
};

// What the steps add up: fluxes at the prescribed-value nodes and the mass
// balance of the last step.
struct Results {
  Arr<double, kLegacyBt> qratb; // flux rate of the current step
  Arr<double, kLegacyBt> accum; // flux accumulated since the start
  // accu2(ibt, its): accum(ibt) at the end of step its.
  Arr2<double, kLegacyBt, kLegacyTs> accu2;
  // The CSV outputs: the amount entered at each prescribed-value node since
  // the start of the run (water, or solute in a transport run).
  Arr<double, kLegacyBt> csvacc;
  double pfxsum = 0.0; // prescribed fluxes × step length this step [L³]
  FlowBalance fbal;    // flow mass balance of the last step
  SoluteBalance sbal;  // solute mass balance of the last step (--csv)
};

// The model state: the records of a run, and the command line.
struct State {
  Files io;
  Options opt;
  Codes codes;
  Mesh mesh;
  Media media;
  FlowProperties<double> fprop;
  TransportProperties<double> tprop;
  Clock clock;
  Criteria crit;
  Prescribed<double> bc;
  Levels<double> lev;
  Band<double> band;
  Observations obs;
  Results res;
  Measurements meas; // --observations
};

// Sizes every array of the state from the counts (ne, np, nts, nmat, nbt,
// ndf, nobs, ntprof, all already checked against their limits): never below
// the legacy capacities, which keeps a legacy deck's storage as it was.
void sizeArrays(State &s);

// True when some count of the deck is beyond its legacy capacity.
bool beyondLegacy(const State &s);

} // namespace qmr
