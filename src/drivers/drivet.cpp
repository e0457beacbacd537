// One time step of a transport run: the element matrices of every element
// and the prescribed fluxes are assembled and solved with the prescribed
// concentrations, the iterate is relaxed until every nodal change is below
// the tolerance or the iteration limit is reached, and the concentrations of
// the step are printed and, at a profile step, stored.
#include <cmath>

#include "drivers/drivers.hpp"
#include "fem/band.hpp"
#include "fem/fem.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {
const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM CONCENTRATION DIFFERENCE OF ',E12.5,' AT NODE ',I5)");
const Layout kColHead(
    "(' NODE     E-COORD   CONCENTRATION',/,' ----     -------   -------------')");
} // namespace

void drivet(State &s) {
  // Band columns around the diagonal.
  setBandColumns(s);
  double drelax = s.relax - 1.0;

  bool converged = false;
  const int nitmax = s.nitmax;
  for (int iterat = 1; iterat <= nitmax; ++iterat) {
    // Element assembly.
    for (int ie = 1; ie <= s.ne; ++ie) {
      s.el = s.elen(ie);
      s.ethick = s.thick(ie);
      s.edarcy = s.darcy(ie);
      s.ealfal = s.alfal(ie);
      s.edifus = s.difus(ie);
      s.eporos = s.poros(ie);
      s.eretar = s.retar(ie);
      s.edecay = s.decay(ie);
      s.ecrech = s.crech(ie);
      s.ecleak = s.cleak(ie);
      s.eqrech = s.qrech(ie);
      s.eqleak = s.qleak(ie);
      assemt(s, ie);
    }

    // Prescribed fluxes: the flux of concentration enters as it is; the
    // fluid flux removes solute at the node's own concentration, weighted
    // between the old and the new level.
    for (int isb = 1; isb <= s.nsb; ++isb) {
      const int id = s.isbv(isb);
      const double hdoldb = s.hdold(id);
      const double dbslod =
          (s.bslod(isb) + s.thtm1 * hdoldb * s.bslqw(isb)) * s.delta;
      s.aslod(id) = s.aslod(id) + dbslod;
      s.astif(id, s.ihbp) =
          s.astif(id, s.ihbp) + s.bslqw(isb) * s.delta * s.theta;
    }

    asm_(s);

    // Largest change against the previous iterate. The node stays 0 when no
    // node changed at all.
    int iconta = 0;
    double amaxdf = 0.0;
    int nmaxnd = 0;
    for (int ip = 1; ip <= s.np; ++ip) {
      const double differ = std::fabs(s.aslod(ip) - s.hdnew(ip));
      if (differ > amaxdf) {
        amaxdf = differ;
        nmaxnd = ip;
      }
      if (differ >= s.toler) iconta = 1;
    }
    write(s.io.lst(), kIter, {iterat, nitmax, amaxdf, nmaxnd});

    // Relaxation, and a clear system for the next assembly.
    for (int ip = 1; ip <= s.np; ++ip) {
      s.hdnew(ip) = s.aslod(ip) + drelax * (s.aslod(ip) - s.hdnew(ip));
      s.aslod(ip) = 0.0;
      for (int j = 1; j <= s.ifullb; ++j) s.astif(ip, j) = 0.0;
    }
    drelax = s.relax - 1.0;

    if (iconta == 0) {
      converged = true;
      break;
    }
  }

  if (!converged && s.i2dwt == 1) endqmr(s, 3, kNotConverged);

  // Results of the step.
  write(s.io.lst(), kSolutionHead, {});
  write(s.io.lst(), kColHead, {});
  for (int ip = 1; ip <= s.np; ++ip)
    write(s.io.lst(), kNodeLine, {ip, s.ecoord(ip), s.hdnew(ip)});

  // The profile of this step, when it is the step of the next profile.
  if (s.itprof <= s.ntprof && s.its == s.ltprof(s.itprof)) {
    for (int ip = 1; ip <= s.np; ++ip) s.tmprof(s.itprof, ip) = s.hdnew(ip);
    s.itprof = s.itprof + 1;
  }

  write(s.io.lst(), kStepDone, {s.its, s.nts});
  write(s.io.lst(), kStepDone, {s.its, s.nts});
}

} // namespace qmr
