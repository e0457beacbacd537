#include <cstdio>
#include <exception>

#include "drivers/drivers.hpp"
#include "fem/fem.hpp"
#include "input/input.hpp"
#include "io/layout.hpp"
#include "output/output.hpp"
#include "run/progress.hpp"
#include "run/run.hpp"
#include "sens/sensitivity.hpp"

namespace qmr {

namespace {

// A check of the deck (--check) reads what the time steps would read: the
// velocity blocks of a transport run that renews its velocities every step.
void checkSteps(State &s) {
  const int bound = s.clock.nts;
  for (s.clock.its = 1; s.clock.its <= bound; ++s.clock.its)
    if (s.codes.imode == kTransportRun)
      fdarcy(s.io, s.codes, s.mesh, s.clock.its, s.tprop);
}

// The run sequence: set-up, the time-step loop, the end-of-run output.
void phases(State &s) {
  open1(s.io, s.opt, s.codes);
  input(s);
  checkParameters(s.io, s.opt, s.codes, s.media.nmat, s.bc.nbt, s.bc.ndf);
  meshgn(s.io, s.opt, s.codes, s.mesh);
  if (s.codes.imode == kFlowRun)
    mpropf(s.io, s.opt.values, s.codes, s.mesh, s.media, s.fprop);
  if (s.codes.imode == kTransportRun)
    mpropt(s.io, s.opt.values, s.codes, s.mesh, s.media, s.fprop, s.tprop);
  tmstep(s.io, s.codes, s.clock);
  pbc(s.io, s.opt.values, s.mesh, s.bc, s.res);
  if (s.codes.imode == kFlowRun) pbflow(s.io, s.opt.values, s.mesh, s.bc);
  if (s.codes.imode == kTransportRun) pbtran(s.io, s.opt.values, s.mesh, s.bc);
  inital(s.io, s.opt.values, s.codes, s.mesh, s.clock, s.lev, s.band);
  nonlin(s.io, s.codes, s.fprop, s.crit);
  if (s.codes.imode == kTransportRun)
    rdarcy(s.io, s.opt.values, s.codes, s.mesh, s.fprop, s.tprop);
  obsnod(s.io, s.codes, s.mesh, s.clock, s.bc, s.obs);
  if (s.opt.csv) opencsv(s.io, s.opt, s.codes, s.mesh, s.bc, s.obs);
  const bool match = !s.opt.observations.empty();
  if (match) {
    readMeasurements(s.io, s.opt, s.codes, s.mesh, s.clock, s.bc, s.meas);
    openmatch(s.io, s.opt, s.mesh, s.bc, s.lev, s.meas);
  }
  const auto sensitivity = Sensitivity::start(s);
  if (s.opt.check) {
    checkSteps(s);
    endNormal(s.io);
    return;
  }

  Progress progress(s);
  const int bound = s.clock.nts; // fixed at loop entry
  for (s.clock.its = 1; s.clock.its <= bound; ++s.clock.its) {
    if (s.codes.imode == kTransportRun)
      fdarcy(s.io, s.codes, s.mesh, s.clock.its, s.tprop);
    tstart(s.clock, s.codes, s.mesh, s.band, s.lev, s.res, s.io);
    if (s.codes.imode == kFlowRun) drivef(s);
    if (s.codes.imode == kTransportRun) drivet(s);
    sensitivity->step(s);
    if (match) matchstep(s.clock, s.bc, s.lev, s.meas);
    outpro(s.io, s.mesh, s.clock, s.lev, s.obs);
    if (s.opt.csv) csvstep(s.io, s.codes, s.clock, s.bc, s.lev, s.obs, s.res);
    progress.step(s);
  }

  outobs(s);
  if (s.opt.csv) csvprof(s.io, s.mesh, s.clock, s.obs);
  if (match) matchrows(s.io, s.meas);
  endNormal(s.io);
}
} // namespace

// A number too large for a floating value in the main input is a fault of
// the deck, whichever read meets it: the main-input failure, as for a
// value the program rejects.
void qmrrun(State &s) {
  try {
    phases(s);
  } catch (const ReaderFault &fault) {
    if (!fault.nonFinite() || fault.unit() != &s.io.deck) throw;
    badInput(s.io, fault.what());
  }
}

namespace {
void report(const std::string &line) {
  std::fprintf(stderr, "qmr: %s\n", line.c_str());
}
} // namespace

int runMain(State &s) {
  int status = kExitInternal;
  try {
    qmrrun(s);
    status = kExitNormal;
  } catch (const StopRun &stop) {
    status = stop.status;
    if (status != kExitNormal && !s.io.diag.empty()) report(s.io.diag);
  } catch (const ReaderFault &fault) {
    status = kExitReader;
    report(fault.what());
  } catch (const FileFault &fault) {
    status = kExitFile;
    report(fault.what());
  } catch (const std::exception &fault) {
    status = kExitInternal;
    report(std::string("internal error: ") + fault.what());
  }

  // The stop: flush and close every file; a file that did not receive all
  // that was written to it makes the run a failure.
  Unit *units[] = {&s.io.listing,    &s.io.graphic,   &s.io.flux,
                   &s.io.restartOut, &s.io.velocity,  &s.io.obsCsv,
                   &s.io.profCsv,    &s.io.fluxCsv,   &s.io.balanceCsv,
                   &s.io.sensCsv,    &s.io.restartIn, &s.io.deck,
                   &s.io.console,    &s.io.matchCsv};
  for (Unit *u : units) {
    if (!u->isOpen()) continue;
    if (!u->close()) {
      report("could not write " + u->name() + " completely: " + u->why());
      if (status == kExitNormal) status = kExitIncomplete;
    }
  }
  // A check of the deck tells only whether the deck would run.
  if (s.opt.check && status != kExitNormal && status != kExitInternal)
    status = kExitFailure;
  return status;
}

} // namespace qmr
