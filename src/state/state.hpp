// The model state: every value of a run, in the groups the routines share.
// Capacities are fixed; every member is zero when a State is made. Routines
// take the state by reference and read and write its members by name.
#pragma once

#include <string>

#include "layout/unit.hpp"
#include "state/balance.hpp"
#include "state/fixed.hpp"
#include "state/options.hpp"

namespace qmr {

// Capacities.
inline constexpr int kMaxEl = 300;  // elements
inline constexpr int kMaxNp = 301;  // nodes (= equations)
inline constexpr int kMaxTs = 101;  // time steps
inline constexpr int kMaxMat = 10;  // media
inline constexpr int kMaxBt = 10;   // prescribed-value nodes
inline constexpr int kMaxSb = 301;  // prescribed-flux nodes
inline constexpr int kMaxObs = 20;  // observation nodes
inline constexpr int kMaxProf = 20; // profiles
inline constexpr int kBand = 3;     // columns of the banded matrix
inline constexpr int kSlots = 9;    // property slots of a medium

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
};

struct State {
  // --- solve: sizes, counters and run type -------------------------------
  int np = 0, ne = 0, nd = 0, ndofn = 0;
  int nbt = 0, nsb = 0;
  int ifullb = 0, ihalfb = 0, ihbp = 0;
  int iobs = 0, nobs = 0;
  int nts = 0, its = 0, ntprof = 0;
  int imode = 0;

  // --- propit: option codes, iteration control and times ------------------
  double toler = 0.0;
  int i2dwt = 0;
  int nitmax = 0;
  double relax = 0.0;
  int istep = 0, iflux = 0, imshgn = 0, iaxsym = 0, ikall = 0;
  int ioread = 0, iowrit = 0;
  double hnavg = 0.0, hoavg = 0.0;
  int iodarc = 0, itsgn = 0, isstat = 0, ipcode = 0;
  double thtm1 = 0.0;
  double hddiff = 0.0;
  int ilqmax = 0, nmat = 0, ndf = 0, nonu = 0;
  double tima = 0.0, ttime = 0.0, ptime = 0.0;

  // --- mprop: flow properties and element work values ---------------------
  double eltran = 0.0, elstor = 0.0, elqrch = 0.0, elbott = 0.0;
  double elhfix = 0.0, elwide = 0.0, elleak = 0.0, elqmax = 0.0;
  double elqfix = 0.0;
  double el = 0.0;
  double delta = 0.0, theta = 0.0, thetm = 0.0;
  int iter = 0;
  double asign = 0.0;
  double pfxsum = 0.0;
  Arr<double, kMaxEl> etran, estor, eqrch, espec, ebott, eleak, ehfix, ewide,
      eqmax;
  Arr<int, kMaxNp> iqmax;

  // --- tprop: transport properties, velocities and work values ------------
  double ealfal = 0.0, edifus = 0.0, eporos = 0.0, eretar = 0.0;
  double edecay = 0.0, ecrech = 0.0, ecleak = 0.0;
  Arr<double, kMaxEl> alfal, difus, poros, retar, decay, crech, cleak;
  double edarcy = 0.0, ethick = 0.0, eqleak = 0.0, eqrech = 0.0;
  Arr<double, kMaxEl> qrech, darcy, thick, qleak;

  // --- obser: coordinates, observation nodes, profile steps ---------------
  Arr<int, kMaxObs> ldobs;
  Arr<double, kMaxNp> ecoord;
  Arr<double, kMaxEl> xcoord;
  Arr<int, kMaxProf> ltprof;
  int itprof = 0;

  // --- stiff: banded system, nodal values, prescribed conditions ----------
  Arr2<double, kMaxNp, kBand> astif;
  Arr<double, kMaxNp> aslod, hdold, hdnew;
  Arr<double, kMaxEl> elen;
  Arr<int, kMaxEl> lmat;
  Arr<int, kMaxSb> isbv;
  Arr<double, kMaxSb> bslod, bslqw;
  Arr<int, kMaxBt> idv;
  Arr<double, kMaxBt> valb, qvalb, qratb, accum;
  Arr2<double, kMaxBt, kMaxTs> accu2;
  Arr<double, kMaxTs> timvec;

  // --- fband: band column numbers -----------------------------------------
  int im01 = 0, im02 = 0, im03 = 0, im04 = 0;
  int ip01 = 0, ip02 = 0, ip03 = 0, ip04 = 0;

  // --- gprop: property table, prop(slot, medium) --------------------------
  Arr2<double, kSlots, kMaxMat> prop;

  // --- outrow: single-precision row buffers -------------------------------
  Arr<float, kMaxProf> tprof;
  Arr<float, kMaxObs> tlobs;

  // --- profst: stored profiles, tmprof(profile, node) ---------------------
  Arr2<double, kMaxProf, kMaxNp> tmprof;

  // --- the mass balance of the last step (flow, or solute of a transport run)
  FlowBalance fbal;
  SoluteBalance sbal;

  // --- the CSV outputs: the amount entered at each prescribed-value node
  // since the start of the run (water, or solute in a transport run)
  Arr<double, kMaxBt> csvacc;

  // --- the command line
  Options opt;

  // --- jobnam --------------------------------------------------------------
  std::string datfil = std::string(255, ' ');

  // --- the files of the run ------------------------------------------------
  Io io;
};

} // namespace qmr
