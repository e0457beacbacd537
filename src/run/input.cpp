#include "input/plausible.hpp"
#include "layout/layout.hpp"
#include "run/run.hpp"

namespace qmr {

namespace {
const Layout kCounts("(16I5)");
const Layout kCountsEcho(
    "(/,' NUMBER OF ELEMENTS                               = ',I3,/,' NUMBER OF TIMESTEPS                              = ',I3,/,' NUMBER OF DIFFERENT MATERIAL LAYERS              = ',I3,/,' NUMBER OF PRESCRIBED VALUE NODES                 = ',I3,/,' NUMBER OF PRESCRIBED FLUX NODES                  = ',I3,/,' NUMBER OF NON-UNIFORM INITIAL NODAL VALUES       = ',I3,/,' NUMBER OF OBSERVATION NODES                      = ',I3,/,' NUMBER OF PROFILE PLOTS                          = ',I3,/)");
const Layout kCodesEcho(
    "(/,' CODE FOR GENERATION OF MESH DATA                 = ',I3,/,' CODE FOR AXISYMMETRIC BEHAVIOUR                  = ',I3,/,' CODE FOR PRINTOUT DATA                           = ',I3,/,' CODE FOR TIMESTEPPING SCHEME                     = ',I3,/,' CODE FOR INPUT OF NON-UNIFORM INITIAL CONDITIONS = ',I3,/,' CODE FOR WRITING RESTART VALUES                  = ',I3,/,' CODE FOR READING/WRITING DARCY VELOCITIES        = ',I3,/,' CODE FOR TIMESTEP GENERATION                     = ',I3,/,' CODE FOR WATER TABLE/NON-LINEAR CONDITIONS       = ',I3,/,' CODE FOR STEADY-STATE CONDITIONS                 = ',I3,/,' CODE FOR THE INPUT OF MATERIAL PROPERTIES        = ',I3,/)");

// A count read from the deck must fit the capacity of its arrays.
void checkCount(State &s, const char *what, int value, int limit, int field) {
  std::string where = s.io.u5.name() + ", record " +
                      std::to_string(s.io.u5.recno()) + ", columns " +
                      std::to_string(field * 5 - 4) + "-" +
                      std::to_string(field * 5) + ": ";
  if (value < 0)
    badInput(s, where + what + " " + std::to_string(value) + " is negative");
  if (limit > 0 && value > limit)
    badInput(s, where + what + " " + std::to_string(value) +
                    " is beyond the limit of " + std::to_string(limit));
}
} // namespace

// Control data: the counts and the option codes that size and steer the run.
void input(State &s) {
  s.io.u5.setSection("counts record");
  if (readEofOnly(s.io.u5, kCounts,
                  {ref(s.ne), ref(s.nts), ref(s.nmat), ref(s.nbt), ref(s.ndf),
                   ref(s.nonu), ref(s.nobs), ref(s.ntprof)}) != 0)
    error5(s);
  write(s.io.lst(), kCountsEcho,
        {s.ne, s.nts, s.nmat, s.nbt, s.ndf, s.nonu, s.nobs, s.ntprof});
  plausibleMediaCount(s);
  checkCount(s, "number of elements", s.ne, kMaxEl, 1);
  checkCount(s, "number of time steps", s.nts, kMaxTs, 2);
  checkCount(s, "number of material layers", s.nmat, kMaxMat, 3);
  checkCount(s, "number of prescribed value nodes", s.nbt, kMaxBt, 4);
  checkCount(s, "number of prescribed flux nodes", s.ndf, kMaxSb, 5);
  checkCount(s, "number of non-uniform initial values", s.nonu, 0, 6);
  checkCount(s, "number of observation nodes", s.nobs, kMaxObs, 7);
  checkCount(s, "number of profile plots", s.ntprof, kMaxProf, 8);

  s.np = s.ne + 1;
  s.io.u5.setSection("option codes record");
  s.ndofn = 1;
  s.nd = s.ndofn * s.np;

  readMain(s, kCounts,
           {ref(s.imshgn), ref(s.iaxsym), ref(s.istep), ref(s.ikall),
            ref(s.ioread), ref(s.iowrit), ref(s.iodarc), ref(s.itsgn),
            ref(s.i2dwt), ref(s.isstat), ref(s.ipcode)});
  write(s.io.lst(), kCodesEcho,
        {s.imshgn, s.iaxsym, s.istep, s.ikall, s.ioread, s.iowrit, s.iodarc,
         s.itsgn, s.i2dwt, s.isstat, s.ipcode});
  // Flow steps print on steps whose number is a multiple of istep.
  if (s.imode == 1 && s.istep <= 0)
    badInput(s, s.io.u5.name() + ", record " + std::to_string(s.io.u5.recno()) +
                    ", columns 11-15: code for printout data " +
                    std::to_string(s.istep) +
                    " must be a positive print interval in a flow run");
  if (s.imshgn == 4) s.imshgn = 1;
}

} // namespace qmr
