// The model state: every value of a run, in the groups the routines share.
// Every member is zero when a State is made. Routines take the state by
// reference and read and write its members by name.
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

#include <string>

#include "layout/unit.hpp"
#include "state/balance.hpp"
#include "state/fixed.hpp"
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

// The files of a run, by the unit numbers the routines know them by, and the
// diagnostic that goes to standard error when the run fails.
struct Io {
  Unit con;                 // the console (standard output)
  Unit u4;                  // flux file
  Unit u5;                  // main input
  Unit u6;                  // listing
  Unit u7;                  // graphic file
  Unit u8;                  // restart file to read
  Unit u9;                  // restart file to write
  Unit u10;                 // velocity file
  Unit obsCsv;              // --csv: observations
  Unit profCsv;             // --csv: profiles
  Unit fluxCsv;             // --csv: fluxes at the prescribed-value nodes
  Unit balanceCsv;          // --csv: mass balance
  std::string diag;         // one line saying what failed and where
  bool listingOpen = false; // before, the listing's lines go to the console

  Unit &lst() { return u6; }
  // From now on every unit writes an integer that does not fit its field in
  // a field just wide enough for it (a run beyond the legacy capacities).
  void widenIntegers() {
    for (Unit *u : {&con, &u4, &u5, &u6, &u7, &u8, &u9, &u10})
      u->setWidenIntegers(true);
  }
};

struct State {
  // --- solve: sizes, counters and run type -------------------------------
  int np = 0;     // number of nodes, ne + 1
  int ne = 0;     // number of elements
  int nd = 0;     // number of equations, ndofn × np
  int ndofn = 0;  // values per node (always 1)
  int nbt = 0;    // number of prescribed-value nodes
  int nsb = 0;    // number of prescribed-flux records in use (copy of ndf)
  int ifullb = 0; // stored columns of the banded matrix (3)
  int ihalfb = 0; // half band width (1)
  int ihbp = 0;   // column of the diagonal in the banded matrix (2)
  int iobs = 0;   // running index over the observation nodes (shared counter)
  int nobs = 0;   // number of observation nodes
  int nts = 0;    // number of time steps (1 in a steady-state run)
  int its = 0;    // current time step, from 1 (also a shared loop counter)
  int ntprof = 0; // number of profiles
  int imode = 0;  // run type: kFlowRun, kTransportRun or kNoRun

  // --- propit: option codes, iteration control and times ------------------
  double toler = 0.0; // convergence tolerance of the iteration [L] or [C]
  int i2dwt = 0;      // water-table (non-linear) code: 0 confined, linear
  int nitmax = 0;     // maximum number of iterations per step
  double relax = 0.0; // relaxation factor of the iteration [-]
  int istep = 0;      // flow step reports on steps that are multiples of it
  int iflux = 0;      // 1: a flux file is written
  int imshgn = 0;     // mesh code: 1, 2 graded, 3 logarithmic, else typed in
  int iaxsym = 0;     // 0 planar, otherwise radial (coordinates are radii)
  int ikall = 0;      // 0: time weight 0.5 from step 2 on; else 1.0 always
  int ioread = 0;     // 1: initial values from a restart file
  int iowrit = 0;     // 1: a restart file is written at the end
  double hnavg = 0.0; // mean new head of the current element [L]
  double hoavg = 0.0; // mean old head of the current element [L]
  int iodarc = 0;     // velocity file code (written by flow, read by transport)
  int itsgn = 0;      // time steps: 0 typed in, otherwise generated
  int isstat = 0;     // 1: steady state
  int ipcode = 0;     // media: 0 one per element, 1 zones, 2 interpolated
  double thtm1 = 0.0; // -(1 - theta) [-]
  double hddiff = 0.0; // head difference across the aquitard of the element [L]
  int ilqmax = 0;      // 1 when some medium caps its leakage rate
  int nmat = 0;        // number of media (material layers)
  int ndf = 0;         // number of prescribed-flux records
  int nonu = 0;        // number of non-uniform initial values
  double tima = 0.0;   // initial time [T]
  double ttime = 0.0;  // time at the end of the current step [T]
  double ptime = 0.0;  // time of the previous time level [T]

  // --- mprop: flow properties and element work values ---------------------
  // One medium's or one element's values while it is read or processed:
  double eltran = 0.0; // hydraulic conductivity [L/T]
  double elstor = 0.0; // storage coefficient [-]
  double elqrch = 0.0; // distributed recharge [L/T]
  double elbott = 0.0; // aquifer thickness (confined) or base elevation [L]
  double elhfix = 0.0; // fixed head beyond the aquitard [L]
  double elwide = 0.0; // aquifer width [L]
  double elleak = 0.0; // aquitard leakage coefficient [1/T]
  double elqmax = 0.0; // maximum leakage rate [L/T]
  double elqfix = 0.0; // leakage source from the fixed head [L²/T]
  double el = 0.0;     // length of the current element [L]
  double delta = 0.0;  // length of the current time step [T]
  double theta = 0.0;  // weight of the new time level [-]
  double thetm = 0.0;  // 1 - theta [-]
  int iter = 0;        // iteration counter of the flow step
  double asign = 0.0;  // storage switch: 1.0 transient, 0.0 steady state
  double pfxsum = 0.0; // prescribed fluxes × step length this step [L³]
  // Per element, per metre of valley (property × width):
  Arr<double, kLegacyEl> etran; // conductivity × width [L²/T]
  Arr<double, kLegacyEl> estor; // storage coefficient × width [L]
  Arr<double, kLegacyEl> eqrch; // recharge × width [L²/T]
  Arr<double, kLegacyEl> espec; // specific storage × width [-]
  Arr<double, kLegacyEl> ebott; // thickness or base elevation [L]
  Arr<double, kLegacyEl> eleak; // leakage coefficient × width [L/T]
  Arr<double, kLegacyEl> ehfix; // fixed head beyond the aquitard [L]
  Arr<double, kLegacyEl> ewide; // aquifer width [L]
  Arr<double, kLegacyEl> eqmax; // maximum leakage rate × width [L²/T]
  Arr<int, kLegacyNp> iqmax;    // per element: 1 when its leakage is capped

  // --- tprop: transport properties, velocities and work values ------------
  // One medium's or one element's values while it is read or processed:
  double ealfal = 0.0; // longitudinal dispersivity [L]
  double edifus = 0.0; // diffusion coefficient [L²/T]
  double eporos = 0.0; // porosity (× width once assigned) [-] or [L]
  double eretar = 0.0; // retardation factor [-]
  double edecay = 0.0; // decay coefficient [1/T]
  double ecrech = 0.0; // concentration of the recharge [C]
  double ecleak = 0.0; // concentration of the aquitard fluid [C]
  // Per element:
  Arr<double, kLegacyEl> alfal; // effective longitudinal dispersivity [L]
  Arr<double, kLegacyEl> difus; // effective diffusion coefficient [L²/T]
  Arr<double, kLegacyEl> poros; // effective porosity × width [L]
  Arr<double, kLegacyEl> retar; // retardation factor [-]
  Arr<double, kLegacyEl> decay; // decay coefficient [1/T]
  Arr<double, kLegacyEl> crech; // concentration of the recharge [C]
  Arr<double, kLegacyEl> cleak; // concentration of the aquitard fluid [C]
  // One element's flow values (a velocity-file record) while processed:
  double edarcy = 0.0; // Darcy velocity × width [L²/T]
  double ethick = 0.0; // saturated thickness [L]
  double eqleak = 0.0; // leakage rate per metre of valley [L²/T]
  double eqrech = 0.0; // recharge rate per metre of valley [L²/T]
  // Per element, from the velocity file or the defaults:
  Arr<double, kLegacyEl> qrech; // recharge rate per metre of valley [L²/T]
  Arr<double, kLegacyEl> darcy; // Darcy velocity × width, + towards ie+1 [L²/T]
  Arr<double, kLegacyEl> thick; // saturated thickness [L]
  Arr<double, kLegacyEl> qleak; // leakage rate per metre of valley [L²/T]

  // --- obser: coordinates, observation nodes, profile steps ---------------
  Arr<int, kLegacyObs> ldobs;    // node of each observation node
  Arr<double, kLegacyNp> ecoord; // coordinate (radius) of each node [L]
  Arr<double, kLegacyEl> xcoord; // mid-point coordinate of each element [L]
  Arr<int, kLegacyProf> ltprof;  // step of each profile, in the order read
  int itprof = 0; // next profile to store (also a shared loop counter)

  // --- stiff: banded system, nodal values, prescribed conditions ----------
  // astif(ip, 1..3): left neighbour, diagonal, right neighbour of equation ip.
  Arr2<double, kLegacyNp, kBand> astif;
  Arr<double, kLegacyNp> aslod; // right-hand side, then the solution
  Arr<double, kLegacyNp> hdold; // head [L] or concentration [C], step start
  Arr<double, kLegacyNp> hdnew; // the same at the step's end (current iterate)
  Arr<double, kLegacyEl> elen;  // length of each element [L]
  Arr<int, kLegacyEl> lmat;     // medium of each element, or zone starts
  Arr<int, kLegacySb> isbv;     // node of each prescribed-flux record
  Arr<double, kLegacySb> bslod; // prescribed flux [L³/T] (flow) or of mass
  Arr<double, kLegacySb> bslqw; // prescribed fluid flux (transport) [L³/T]
  Arr<int, kLegacyBt> idv;      // node of each prescribed-value node
  Arr<double, kLegacyBt> valb;  // prescribed head [L] or concentration [C]
  Arr<double, kLegacyBt> qvalb; // reaction flux from the last solution
  Arr<double, kLegacyBt> qratb; // flux rate of the current step
  Arr<double, kLegacyBt> accum; // flux accumulated since the start
  // accu2(ibt, its): accum(ibt) at the end of step its.
  Arr2<double, kLegacyBt, kLegacyTs> accu2;
  Arr<double, kLegacyTs> timvec; // time at the end of each step [T]

  // --- fband: band column numbers (ihbp - 1 .. ihbp - 4, ihbp + 1 .. + 4) --
  int im01 = 0, im02 = 0, im03 = 0, im04 = 0;
  int ip01 = 0, ip02 = 0, ip03 = 0, ip04 = 0;

  // --- gprop: property table, prop(slot, medium) as read and defaulted -----
  Arr2<double, kSlots, kLegacyMat> prop;

  // --- outrow: single-precision row buffers -------------------------------
  Arr<float, kLegacyProf> tprof; // every profile at one node (one row)
  Arr<float, kLegacyObs> tlobs;  // every observation node at one step

  // --- profst: stored profiles, tmprof(profile, node) [L] or [C] ----------
  Arr2<double, kLegacyProf, kLegacyNp> tmprof;

  // --- the mass balance of the last step (flow, or solute of a transport run)
  FlowBalance fbal;
  SoluteBalance sbal;

  // --- the CSV outputs: the amount entered at each prescribed-value node
  // since the start of the run (water, or solute in a transport run)
  Arr<double, kLegacyBt> csvacc;

  // --- the command line
  Options opt;

  // --- jobnam --------------------------------------------------------------
  std::string datfil = std::string(255, ' '); // path of the main input

  // --- the files of the run ------------------------------------------------
  Io io;
};

// Sizes every array of the state from the counts (ne, np, nts, nmat, nbt,
// ndf, nobs, ntprof, all already checked against their limits): never below
// the legacy capacities, which keeps a legacy deck's storage as it was.
void sizeArrays(State &s);

// True when some count of the deck is beyond its legacy capacity.
bool beyondLegacy(const State &s);

} // namespace qmr
