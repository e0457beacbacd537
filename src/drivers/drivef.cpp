// One time step of a flow run: the non-linear iteration over element
// assembly and banded solution with relaxation and a self-adjusting
// tolerance, then the results of the step: velocity-file records, nodal
// heads, fluxes at the prescribed-head nodes, the flux-file row, the mass
// balance and the profiles of the step.
#include <cmath>
#include <vector>

#include "drivers/drivers.hpp"
#include "fem/band.hpp"
#include "fem/fem.hpp"
#include "layout/layout.hpp"
#include "layout/records.hpp"
#include "output/logpos.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const Layout kDry("('***** ELEMENT NO. ',I3,' HAS GONE DRY !! *****')");
const Layout kIter(
    "('***** ITERATION ',I3,' OF MAXIMUM ',I3,' *****',/,'      MAXIMUM HEAD DIFFERENCE OF ',E12.5,' AT NODE ',I5)");
const Layout kNodeHead(
    "(' NODE     E-COORD   HYDRAULIC HEAD',/,' ----     -------   --------------')");
const Layout kFluxHead(
    "(/,'  RESULTING FLUX AT PRESCRIBED HEAD NODES',/,'  ***************************************',/,/,'  NODE   PRESCRIBED HEAD    RESULTING FLUX','         FLUX RATE       ACCUMULATED',/,'                            OVER TIME STEP','      OVER TIME STEP        FLUX',/,'  ----   ---------------    --------------','      --------------     -----------',/)");
const Layout kFlux("(I6,4E18.5)");
const Layout kBalance(
    "(/,'           MASS BALANCE COMPUTATION',/,'           ************************',/,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM RECHARGE CONDITION    = ',E12.5,/,'   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = ',E12.5,/,'   MASS INCREASE HELD IN STORAGE                   = ',E12.5,/,/,'   MASS OUT OF BALANCE (MASS IN - MASS INCREASE)   = ',E12.5,/,/)");

// Reports appear on the steps whose number is a multiple of the print
// interval. An interval of 0 has no multiples: no reports.
bool printStep(const State &s) { return s.istep != 0 && s.its % s.istep == 0; }

// Adds the prescribed fluxes of the step to the right-hand side.
void seedFluxes(State &s) {
  for (int isb = 1; isb <= s.nsb; ++isb) {
    const int id = s.isbv(isb);
    s.aslod(id) = s.aslod(id) + s.bslod(isb) * s.delta;
  }
}

// The element work values of one element and its matrices, confined.
void assembleConfined(State &s, int ie) {
  s.el = s.elen(ie);
  s.ethick = s.ebott(ie);
  s.eltran = s.etran(ie) * s.ethick;
  s.elstor = s.espec(ie) * s.ethick + s.estor(ie);
  s.elqrch = s.eqrch(ie);
  s.elleak = s.eleak(ie);
  s.elqmax = s.eqmax(ie);
  if (s.iqmax(ie) == 1) sbleak(s, ie);
  s.elqfix = s.ehfix(ie) * s.elleak;
  assemf(s, ie);
}

// The same with the water-table option: the saturated thickness follows
// the time-weighted mean head of the element.
void assembleWaterTable(State &s, int ie) {
  s.el = s.elen(ie);
  s.eltran = s.etran(ie);
  const double elspec = s.espec(ie);
  s.elstor = s.estor(ie);
  s.elqrch = s.eqrch(ie);
  s.elbott = s.ebott(ie);
  s.elleak = s.eleak(ie);
  s.elqmax = s.eqmax(ie);
  if (s.iqmax(ie) == 1) sbleak(s, ie);
  s.elqfix = s.ehfix(ie) * s.elleak;
  s.hnavg = (s.hdnew(ie) + s.hdnew(ie + 1)) * 0.5;
  s.hoavg = (s.hdold(ie) + s.hdold(ie + 1)) * 0.5;
  const double ahead = s.theta * s.hnavg + s.thetm * s.hoavg;
  s.ethick = ahead - s.elbott;
  if (s.ethick <= 0.0) {
    write(s.io.lst(), kDry, {ie});
    s.ethick = static_cast<double>(1.0E-4f);
  }
  s.eltran = s.eltran * s.ethick;
  s.elstor = s.ethick * elspec + s.elstor;
  assemf(s, ie);
}

// The iteration of the step. Returns when the step has converged or, for a
// linear problem, when the iterations are used up; a non-linear problem
// that does not converge ends the run.
void iterate(State &s) {
  for (int isb = 1; isb <= s.nsb; ++isb) {
    const int id = s.isbv(isb);
    const double dbslod = s.bslod(isb) * s.delta;
    s.aslod(id) = s.aslod(id) + dbslod;
    s.pfxsum = s.pfxsum + dbslod;
  }

  setBandColumns(s);

  const double drelax = s.relax - 1.0;

  for (s.iter = 1; s.iter <= s.nitmax; ++s.iter) {
    for (int ie = 1; ie <= s.ne; ++ie) {
      if (s.i2dwt == 0)
        assembleConfined(s, ie);
      else
        assembleWaterTable(s, ie);
    }

    asm_(s);

    // Largest change against the previous iterate, and the range of the
    // solution (zero included) for the next tolerance.
    int iconta = 0;
    double amaxdf = 0.0;
    int nmaxnd = 0;
    double vupper = 0.0;
    double vlower = 0.0;
    for (int ip = 1; ip <= s.np; ++ip) {
      const double vaslod = s.aslod(ip);
      if (vaslod > vupper) vupper = vaslod;
      if (vaslod < vlower) vlower = vaslod;
      const double differ = std::fabs(vaslod - s.hdnew(ip));
      if (differ > amaxdf) {
        amaxdf = differ;
        nmaxnd = ip;
      }
      if (differ >= s.toler) iconta = 1;
    }

    const double vrange = vupper - vlower;
    const double vtoler = vrange * static_cast<double>(0.001f);
    s.toler = static_cast<double>(1.0E-6f);
    if (vtoler > s.toler) s.toler = vtoler;

    if (printStep(s))
      write(s.io.lst(), kIter, {s.iter, s.nitmax, amaxdf, nmaxnd});

    for (int ip = 1; ip <= s.np; ++ip) {
      s.hdnew(ip) = (s.aslod(ip) - s.hdnew(ip)) * drelax + s.aslod(ip);
      s.aslod(ip) = 0.0;
      for (int j = 1; j <= s.ifullb; ++j) s.astif(ip, j) = 0.0;
    }
    seedFluxes(s);

    if (iconta == 0) return;
  }

  if (s.i2dwt == 1 || s.ilqmax == 1) endqmr(s, 3, kNotConverged);
}

// One block of the velocity file: per element the Darcy velocity, the
// thickness, the leakage rate and the recharge, from the time-weighted heads.
void velocityBlock(State &s) {
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    const double hedold = (s.hdold(ip1) + s.hdold(ip2)) * 0.5;
    const double hednew = (s.hdnew(ip1) + s.hdnew(ip2)) * 0.5;
    const double hedavg = s.theta * hednew + s.thetm * hedold;
    const double head1 = s.hdnew(ip1) * s.theta + s.hdold(ip1) * s.thetm;
    const double head2 = s.hdnew(ip2) * s.theta + s.hdold(ip2) * s.thetm;
    s.el = s.elen(ie);
    s.eltran = s.etran(ie);
    s.ethick = s.ebott(ie);
    s.elqrch = s.eqrch(ie);
    s.elleak = s.eleak(ie);
    s.elhfix = s.ehfix(ie);
    s.elqmax = s.eqmax(ie);
    const double hdmean = (head1 + head2) * 0.5;
    if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
    const double ehdiff = head2 - head1;
    s.hddiff = s.elhfix - hedavg;
    s.edarcy = -(s.eltran * ehdiff / s.el);
    // The limiter leaves its own time-weighted difference in hddiff.
    if (s.iqmax(ie) == 1) sbleak(s, ie);
    s.eqleak = s.elleak * s.hddiff;
    if (s.iaxsym == 1) {
      const double radzer = (s.ecoord(ip1) + s.ecoord(ip2)) * 0.5;
      s.eqleak = s.eqleak - (s.el * s.elleak * ehdiff) / (radzer * 12.0);
    }
    write(s.io.u10, kVelocityRecord,
          {ie, s.edarcy, s.ethick, s.eqleak, s.elqrch});
  }
}

// The mass balance of the step; writes it on print steps.
void massBalance(State &s, double qdsum) {
  double sumsto = 0.0;
  double sumrec = 0.0;
  double sumlek = 0.0;
  for (int ie = 1; ie <= s.ne; ++ie) {
    const int ip1 = ie;
    const int ip2 = ie + 1;
    s.el = s.elen(ie);
    const double elspec = s.espec(ie);
    s.elstor = s.estor(ie);
    s.elqrch = s.eqrch(ie);
    s.elleak = s.eleak(ie);
    s.ethick = s.ebott(ie);
    s.elhfix = s.ehfix(ie);
    s.elqmax = s.eqmax(ie);
    const double hdnew1 = s.hdnew(ip1);
    const double hdnew2 = s.hdnew(ip2);
    const double hdold1 = s.hdold(ip1);
    const double hdold2 = s.hdold(ip2);
    const double hd1 = hdnew1 - hdold1;
    const double hd2 = hdnew2 - hdold2;
    const double hnewav = (hdnew1 + hdnew2) * 0.5;
    const double holdav = (hdold1 + hdold2) * 0.5;
    const double hdmean = s.theta * hnewav + s.thetm * holdav;
    s.hddiff = s.elhfix - hdmean;

    if (s.iaxsym == 0) {
      if (s.iqmax(ie) == 1) sbleak(s, ie);
      s.eqleak = s.elleak * s.hddiff;
      if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
      s.elstor = s.ethick * elspec + s.elstor;
      const double adhead =
          (s.hdnew(ip1) + s.hdnew(ip2) - s.hdold(ip1) - s.hdold(ip2)) * 0.5;
      sumsto = sumsto + s.elstor * s.el * adhead;
      sumrec = sumrec + s.elqrch * s.el * s.delta;
      sumlek = sumlek + s.eqleak * s.el * s.delta;
    } else {
      // Per radian: every term integrated over the radius of the element.
      const double rd1 = s.ecoord(ip1);
      const double rd2 = s.ecoord(ip2);
      const double radzer = (rd1 + rd2) * 0.5;
      const double rd12 = rd1 * rd1;
      const double rd13 = rd1 * rd1 * rd1;
      const double rd22 = rd2 * rd2;
      const double rd23 = rd2 * rd2 * rd2;
      const double earea = (rd22 - rd12) * 0.5;
      const double radlek =
          s.el * s.el *
          ((hdnew2 - hdnew1) * s.theta + (hdold2 - hdold1) * s.thetm) / 12.0;
      if (s.iqmax(ie) == 1) sbleak(s, ie);
      s.eqleak = s.elleak * s.hddiff * s.el * radzer - s.elleak * radlek;
      if (s.i2dwt == 1) s.ethick = hdmean - s.ethick;
      s.elstor = s.ethick * elspec + s.elstor;
      const double coeff = ((hd2 - hd1) / (rd2 - rd1)) / 6.0;
      const double harea =
          (2.0 * (rd23 - rd13) - 3.0 * rd1 * (rd22 - rd12)) * coeff +
          hd1 * earea;
      sumsto = sumsto + s.elstor * harea;
      sumrec = sumrec + s.elqrch * earea * s.delta;
      sumlek = sumlek + s.eqleak * s.delta;
    }
  }

  sumsto = sumsto * s.asign;
  const double totsum = s.pfxsum + qdsum - sumsto + sumrec + sumlek;
  if (printStep(s))
    write(s.io.lst(), kBalance,
          {qdsum, s.pfxsum, sumrec, sumlek, sumsto, totsum});
}

// Everything from the heads of the step to the end of the step.
void results(State &s) {
  if (s.iodarc > 0 && (s.iodarc == 2 || s.its == s.nts)) velocityBlock(s);

  if (printStep(s)) {
    write(s.io.lst(), kSolutionHead, {});
    write(s.io.lst(), kNodeHead, {});
    for (int ip = 1; ip <= s.np; ++ip)
      write(s.io.lst(), kNodeLine, {ip, s.ecoord(ip), s.hdnew(ip)});
  }

  // Fluxes at the prescribed-head nodes: the reactions of the last solution.
  write(s.io.lst(), kFluxHead, {});
  double qdsum = 0.0;
  for (int ibt = 1; ibt <= s.nbt; ++ibt) {
    const int ind00 = s.idv(ibt);
    const double hvalu = s.valb(ibt);
    const double qvalu = s.qvalb(ibt);
    s.accum(ibt) = s.accum(ibt) + qvalu;
    s.accu2(ibt, s.its) = s.accum(ibt);
    const double qrate = qvalu / s.delta;
    s.qratb(ibt) = qrate;
    qdsum = qdsum + qvalu;
    write(s.io.lst(), kFlux, {ind00, hvalu, qvalu, qrate, s.accum(ibt)});
  }

  if (s.iflux != 0) {
    const double timlog = logpos(s.ttime);
    std::vector<Val> row{s.its, s.ttime, timlog};
    for (int ibt = 1; ibt <= s.nbt; ++ibt) row.emplace_back(s.qratb(ibt));
    write(s.io.u4, kRow, row);
  }

  massBalance(s, qdsum);

  for (int ip = 1; ip <= s.np; ++ip) s.hdold(ip) = s.hdnew(ip);
  write(s.io.lst(), kStepDone, {s.its, s.nts});
  write(s.io.lst(), kStepDone, {s.its, s.nts});

  // Every profile asked for at this step.
  while (s.itprof <= s.ntprof && s.its == s.ltprof(s.itprof)) {
    for (int ip = 1; ip <= s.np; ++ip) s.tmprof(s.itprof, ip) = s.hdnew(ip);
    s.itprof = s.itprof + 1;
  }
}

} // namespace

void drivef(State &s) {
  iterate(s);
  results(s);
}

} // namespace qmr
