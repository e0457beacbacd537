// One time step of a transport run: the element matrices of every element
// and the prescribed fluxes are assembled and solved with the prescribed
// concentrations, the iterate is relaxed until every nodal change is below
// the tolerance or the iteration limit is reached, and the concentrations of
// the step are printed and, at a profile step, stored.
#include "drivers/drivers.hpp"
#include "drivers/step.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM CONCENTRATION DIFFERENCE OF ',E12.5,' AT NODE ',I5)");
const Layout kColHead(
    "(' NODE     E-COORD   CONCENTRATION',/,' ----     -------   -------------')");

// The element work values of element ie, as assemt reads them.
void loadElement(State &s, int ie) {
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
}

// The transport step's part of the iteration.
struct TransportIteration {
  void assemble(State &s) {
    for (int ie = 1; ie <= s.ne; ++ie) {
      loadElement(s, ie);
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
  }
  // Every iteration of a step whose results are listed is reported.
  void scanned(State &s, const Scan &scan) {
    if (printTransportStep(s))
      write(s.io.lst(), kIter, {iterat, s.nitmax, scan.amaxdf, scan.nmaxnd});
  }
  void cleared(State &) {}
  int iterat = 0;
};

} // namespace

void drivet(State &s) {
  TransportIteration step;
  const bool converged = iterate(s, step, step.iterat);
  if (!converged && s.i2dwt == 1) endqmr(s, 3, kNotConverged);

  if (s.opt.csv) s.sbal = soluteBalance(s);

  // Results of the step.
  if (printTransportStep(s)) {
    write(s.io.lst(), kSolutionHead, {});
    write(s.io.lst(), kColHead, {});
    for (int ip = 1; ip <= s.np; ++ip)
      write(s.io.lst(), kNodeLine, {ip, s.ecoord(ip), s.hdnew(ip)});
  }

  // At most one profile per step.
  if (profileDue(s)) storeProfile(s);

  stepDone(s);
}

} // namespace qmr
