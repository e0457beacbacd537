#include "input/input.hpp"
#include "input/plausible.hpp"
#include "io/layout.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {
const Layout kCounts("(16I5)");
const Layout kCountsEcho(
    "(/,' NUMBER OF ELEMENTS                               = ',I3,/,' NUMBER OF TIMESTEPS                              = ',I3,/,' NUMBER OF DIFFERENT MATERIAL LAYERS              = ',I3,/,' NUMBER OF PRESCRIBED VALUE NODES                 = ',I3,/,' NUMBER OF PRESCRIBED FLUX NODES                  = ',I3,/,' NUMBER OF NON-UNIFORM INITIAL NODAL VALUES       = ',I3,/,' NUMBER OF OBSERVATION NODES                      = ',I3,/,' NUMBER OF PROFILE PLOTS                          = ',I3,/)");
const Layout kCodesEcho(
    "(/,' CODE FOR GENERATION OF MESH DATA                 = ',I3,/,' CODE FOR AXISYMMETRIC BEHAVIOUR                  = ',I3,/,' CODE FOR PRINTOUT DATA                           = ',I3,/,' CODE FOR TIMESTEPPING SCHEME                     = ',I3,/,' CODE FOR INPUT OF NON-UNIFORM INITIAL CONDITIONS = ',I3,/,' CODE FOR WRITING RESTART VALUES                  = ',I3,/,' CODE FOR READING/WRITING DARCY VELOCITIES        = ',I3,/,' CODE FOR TIMESTEP GENERATION                     = ',I3,/,' CODE FOR WATER TABLE/NON-LINEAR CONDITIONS       = ',I3,/,' CODE FOR STEADY-STATE CONDITIONS                 = ',I3,/,' CODE FOR THE INPUT OF MATERIAL PROPERTIES        = ',I3,/)");

// A count read from the deck must fit the capacity of its arrays.
void checkCount(State &s, const char *what, int value, int limit, int field) {
  std::string where = s.io.deck.name() + ", record " +
                      std::to_string(s.io.deck.recno()) + ", columns " +
                      std::to_string(field * 5 - 4) + "-" +
                      std::to_string(field * 5) + ": ";
  if (value < 0)
    badInput(s.io, where + what + " " + std::to_string(value) + " is negative");
  if (limit > 0 && value > limit)
    badInput(s.io, where + what + " " + std::to_string(value) +
                       " is beyond the limit of " + std::to_string(limit));
}
} // namespace

// Control data: the counts and the option codes that size and steer the run.
void input(State &s) {
  s.io.deck.setSection("counts record");
  if (readEofOnly(s.io.deck, kCounts,
                  {ref(s.mesh.ne), ref(s.clock.nts), ref(s.media.nmat),
                   ref(s.bc.nbt), ref(s.bc.ndf), ref(s.codes.nonu),
                   ref(s.obs.nobs), ref(s.obs.ntprof)}) != 0)
    error5(s.io);
  // A deck beyond the legacy capacities writes the integers that outgrow
  // their legacy fields (these counts first) in wider fields.
  if (beyondLegacy(s)) s.io.widenIntegers();
  write(s.io.lst(), kCountsEcho,
        {s.mesh.ne, s.clock.nts, s.media.nmat, s.bc.nbt, s.bc.ndf, s.codes.nonu,
         s.obs.nobs, s.obs.ntprof});
  plausibleMediaCount(s.io, s.codes, s.mesh, s.media);
  checkCount(s, "number of elements", s.mesh.ne, kLimitEl, 1);
  checkCount(s, "number of time steps", s.clock.nts, kLimitTs, 2);
  checkCount(s, "number of material layers", s.media.nmat, kLimitMat, 3);
  checkCount(s, "number of prescribed value nodes", s.bc.nbt, kLimitBt, 4);
  checkCount(s, "number of prescribed flux nodes", s.bc.ndf, kLimitSb, 5);
  checkCount(s, "number of non-uniform initial values", s.codes.nonu, 0, 6);
  checkCount(s, "number of observation nodes", s.obs.nobs, kLimitObs, 7);
  checkCount(s, "number of profile plots", s.obs.ntprof, kLimitProf, 8);

  s.mesh.np = s.mesh.ne + 1;
  s.io.deck.setSection("option codes record");
  s.mesh.ndofn = 1;
  s.mesh.nd = s.mesh.ndofn * s.mesh.np;
  sizeArrays(s);

  readMain(s.io, kCounts,
           {ref(s.codes.imshgn), ref(s.codes.iaxsym), ref(s.codes.istep),
            ref(s.codes.ikall), ref(s.codes.ioread), ref(s.codes.iowrit),
            ref(s.codes.iodarc), ref(s.codes.itsgn), ref(s.codes.i2dwt),
            ref(s.codes.isstat), ref(s.codes.ipcode)});
  write(s.io.lst(), kCodesEcho,
        {s.codes.imshgn, s.codes.iaxsym, s.codes.istep, s.codes.ikall,
         s.codes.ioread, s.codes.iowrit, s.codes.iodarc, s.codes.itsgn,
         s.codes.i2dwt, s.codes.isstat, s.codes.ipcode});
  // Flow steps print on steps whose number is a multiple of istep.
  if (s.codes.imode == kFlowRun && s.codes.istep <= 0)
    badInput(s.io, s.io.deck.name() + ", record " +
                       std::to_string(s.io.deck.recno()) +
                       ", columns 11-15: code for printout data " +
                       std::to_string(s.codes.istep) +
                       " must be a positive print interval in a flow run");
  if (s.codes.imshgn == 4) s.codes.imshgn = 1;
}

} // namespace qmr
