#include "input/plausible.hpp"

#include <charconv>
#include <string>
#include <utility>

#include "io/warn.hpp"

namespace qmr {

namespace {
// A value as short as it can be written and still read back the same.
std::string num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Where value k (0-based) of a list read eight to a record of ten columns
// stands, the list ending in record `last` after n values.
void warnListValue(const Files &io, long last, int n, int k,
                   const std::string &msg) {
  const long first = last - (n - 1) / 8;
  warnField(io.deck, first + k / 8, k % 8 + 1, 10, msg);
}

// Field `field` of ten columns in the record just read.
void warnHere(const Files &io, int field, const std::string &msg) {
  warnField(io.deck, io.deck.recno(), field, 10, msg);
}

// The first entry of the list at(1..n) that repeats an earlier one: the
// index of the earlier entry and its own, or {0, 0} when none repeats.
template <class At> std::pair<int, int> firstRepeat(int n, At at) {
  for (int i = 2; i <= n; ++i)
    for (int j = 1; j < i; ++j)
      if (at(j) == at(i)) return {j, i};
  return {0, 0};
}
} // namespace

void plausibleCoordinates(const Files &io, const Mesh &mesh, long last) {
  for (int ip = 2; ip <= mesh.np; ++ip) {
    if (mesh.ecoord(ip) > mesh.ecoord(ip - 1)) continue;
    warnListValue(io, last, mesh.np, ip - 1,
                  "the coordinate of node " + std::to_string(ip) + ", " +
                      num(mesh.ecoord(ip)) + ", does not exceed that of node " +
                      std::to_string(ip - 1) + ", " + num(mesh.ecoord(ip - 1)) +
                      ": element " + std::to_string(ip - 1) +
                      " has a length of zero or less. Coordinates must "
                      "increase along the mesh.");
    return;
  }
}

void plausibleGraded(const Files &io, double ecord1, double ecordn,
                     double scfact) {
  if (ecordn <= ecord1)
    warnHere(io, 2,
             "the coordinate of the last node, " + num(ecordn) +
                 ", does not exceed that of node 1, " + num(ecord1) +
                 ": every element would have a length of zero or less.");
  if (scfact <= 0.0)
    warnHere(io, 3,
             "grading factor " + num(scfact) +
                 ": it must be greater than 0 (1 gives equal elements).");
}

void plausibleLogarithmic(const Files &io, double ecord1, double ecordn) {
  if (ecord1 <= 0.0 || ecordn <= 0.0) {
    warnHere(io, ecord1 <= 0.0 ? 1 : 2,
             "a logarithmic mesh needs coordinates greater than 0 (node 1 " +
                 num(ecord1) + ", last node " + num(ecordn) +
                 "): the logarithm of zero or less has no value.");
  } else if (ecordn <= ecord1) {
    warnHere(io, 2,
             "the coordinate of the last node, " + num(ecordn) +
                 ", does not exceed that of node 1, " + num(ecord1) + ".");
  }
}

void plausibleMediaCount(const Files &io, const Codes &codes, const Mesh &mesh,
                         const Media &media) {
  if (media.nmat != 0 || mesh.ne == 0) return;
  const std::string what = codes.imode == 2 ? "transport" : "flow";
  warn(io.deck, io.deck.recno(), 11, 15,
       "number of media 0: no element of a " + what +
           " run gets any properties, and the medium numbers and medium "
           "records that follow are not read as such.");
}

void plausibleFlowMedium(const Files &io, const Codes &codes,
                         double conductivity, double specific, double storage,
                         double thickness, double width) {
  if (conductivity < 0.0)
    warnHere(io, 1, "negative hydraulic conductivity " + num(conductivity));
  if (specific < 0.0)
    warnHere(io, 2, "negative specific storage " + num(specific));
  if (storage < 0.0)
    warnHere(io, 3, "negative storage coefficient " + num(storage));
  if (codes.i2dwt == 0 && thickness < 0.0)
    warnHere(io, 4,
             "negative aquifer thickness " + num(thickness) +
                 " in a confined run (only a water-table run takes this "
                 "field as a base elevation)");
  if (width < 0.0) warnHere(io, 8, "negative aquifer width " + num(width));
}

void plausibleTransportMedium(const Files &io, double dispersivity,
                              double diffusion, double porosity,
                              double retardation, double decay, double width) {
  if (dispersivity < 0.0)
    warnHere(io, 1, "negative dispersivity " + num(dispersivity));
  if (diffusion < 0.0)
    warnHere(io, 2, "negative diffusion coefficient " + num(diffusion));
  if (porosity <= 0.0 || porosity > 1.0)
    warnHere(io, 3,
             "porosity " + num(porosity) +
                 " is outside 0 to 1 (a fraction of the volume; 0 "
                 "excluded)");
  // A retardation factor of zero stands for none (1).
  if (retardation < 1.0 && retardation != 0.0)
    warnHere(io, 4,
             "retardation factor " + num(retardation) +
                 " is below 1 (1 is no retardation)");
  if (decay < 0.0) warnHere(io, 5, "negative decay coefficient " + num(decay));
  if (width < 0.0) warnHere(io, 8, "negative aquifer width " + num(width));
}

void plausibleTimes(const Files &io, const Clock &clock, long last) {
  double before = clock.tima;
  for (int its = 1; its <= clock.nts; ++its) {
    if (clock.timvec(its) > before) {
      before = clock.timvec(its);
      continue;
    }
    warnListValue(io, last, clock.nts + 1, its,
                  "the time at the end of step " + std::to_string(its) + ", " +
                      num(clock.timvec(its)) + ", does not exceed the time " +
                      num(before) +
                      " before it: times are totals and must increase.");
    return;
  }
}

void plausibleStep(const Files &io, double delta1) {
  if (delta1 > 0.0) return;
  warnHere(io, 2, "time step " + num(delta1) + ": it must be greater than 0.");
}

void plausiblePrescribedNodes(const Files &io, const Prescribed<double> &bc,
                              long last) {
  const auto [j, i] = firstRepeat(bc.nbt, [&](int k) { return bc.idv(k); });
  if (i == 0) return;
  const long first = last - bc.nbt;
  warn(io.deck, first + i, 1, 5,
       "node " + std::to_string(bc.idv(i)) +
           " is given a prescribed value twice (records " +
           std::to_string(first + j) + " and " + std::to_string(first + i) +
           "): the last value holds, and its flux is counted twice.");
}

void plausibleObservationNodes(const Files &io, const Observations &obs,
                               long last) {
  const auto [j, i] =
      firstRepeat(obs.nobs, [&](int k) { return obs.ldobs(k); });
  if (i == 0) return;
  const long first = last - obs.nobs;
  warn(io.deck, first + i, 1, 5,
       "observation node " + std::to_string(obs.ldobs(i)) +
           " is listed twice (records " + std::to_string(first + j) + " and " +
           std::to_string(first + i) + ")");
}

void plausibleProfileSteps(const Files &io, const Clock &clock,
                           const Observations &obs, long last) {
  int before = 0;
  for (int k = 1; k <= obs.ntprof; ++k) {
    const int step = obs.ltprof(k);
    const long rec = last - obs.ntprof + k;
    if (step <= before) {
      warn(io.deck, rec, 1, 5,
           "profile step " + std::to_string(step) + " does not follow step " +
               std::to_string(before) +
               ": profiles are stored in step order, so this profile and "
               "those after it are never stored (their columns stay 0).");
      return;
    }
    if (step > clock.nts) {
      warn(io.deck, rec, 1, 5,
           "profile step " + std::to_string(step) + " is beyond the " +
               std::to_string(clock.nts) +
               " steps of the run: it is never stored (its column stays "
               "0).");
      return;
    }
    before = step;
  }
}

} // namespace qmr
