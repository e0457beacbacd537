// The CSV files of a run with --csv: observations, profiles, fluxes at the
// prescribed-value nodes and the mass balance, every floating value in the
// shortest text that reads back to the same double. They are named after the
// graphic file: its extension is replaced (X.GRF gives X.obs.csv), or the
// suffix is appended to a name without one.
#include <charconv>
#include <filesystem>
#include <string>

#include "output/output.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

void put(std::string &line, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  line.append(buf, r.ptr);
}

void put(std::string &line, int v) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  line.append(buf, r.ptr);
}

// "node N x=X"
std::string nodeLabel(const State &s, int node) {
  std::string h = "node ";
  put(h, node);
  h += " x=";
  put(h, s.mesh.ecoord(node));
  return h;
}

std::string csvName(const State &s, const char *suffix) {
  const std::string graphic =
      s.io.graphic.path().empty() ? s.io.graphic.name() : s.io.graphic.path();
  std::filesystem::path p(graphic);
  p.replace_extension(suffix);
  return p.string();
}

void open(State &s, Unit &u, const char *suffix, const char *what) {
  // A check of the deck checks the names and makes no file.
  openOrFail(u, csvName(s, suffix), what,
             s.opt.check ? &Unit::openDiscard : &Unit::openWrite,
             {&s.io.deck, &s.io.listing, &s.io.graphic, &s.io.flux,
              &s.io.restartOut, &s.io.velocity, &s.io.obsCsv, &s.io.profCsv,
              &s.io.fluxCsv});
}

// Column names of the balance file; the last is always "imbalance".
const char *const kFlowTerms =
    "prescribed_value,prescribed_flux,recharge,leakage,storage_increase,"
    "imbalance";
const char *const kSoluteTerms =
    "prescribed_value,prescribed_flux,prescribed_fluid_flux,recharge,"
    "recharge_dilution,leakage,leakage_dilution,decay,advection_first_node,"
    "advection_last_node,advection_divergence,storage_increase,imbalance";

} // namespace

void opencsv(State &s) {
  open(s, s.io.obsCsv, ".obs.csv", "observation CSV file");
  open(s, s.io.profCsv, ".prof.csv", "profile CSV file");
  open(s, s.io.fluxCsv, ".flux.csv", "flux CSV file");
  open(s, s.io.balanceCsv, ".balance.csv", "balance CSV file");

  std::string h = "step,time";
  for (int k = 1; k <= s.obs.nobs; ++k) h += "," + nodeLabel(s, s.obs.ldobs(k));
  s.io.obsCsv.put(h);

  h = "step,time";
  for (int ibt = 1; ibt <= s.bc.nbt; ++ibt) {
    const std::string node = nodeLabel(s, s.bc.idv(ibt));
    h += ",rate " + node + ",accumulated " + node;
  }
  s.io.fluxCsv.put(h);

  h = "step,time,";
  h += s.codes.imode == 2 ? kSoluteTerms : kFlowTerms;
  s.io.balanceCsv.put(h);
}

void csvstep(State &s) {
  std::string row;
  put(row, s.clock.its);
  row += ',';
  put(row, s.clock.ttime);
  const std::string head = row;

  for (int k = 1; k <= s.obs.nobs; ++k) {
    row += ',';
    put(row, s.lev.hdnew(s.obs.ldobs(k)));
  }
  s.io.obsCsv.put(row);

  // The reactions of the step's last solution, as a rate and accumulated.
  row = head;
  for (int ibt = 1; ibt <= s.bc.nbt; ++ibt) {
    s.res.csvacc(ibt) = s.res.csvacc(ibt) + s.bc.qvalb(ibt);
    row += ',';
    put(row, s.bc.qvalb(ibt) / s.clock.delta);
    row += ',';
    put(row, s.res.csvacc(ibt));
  }
  s.io.fluxCsv.put(row);

  row = head;
  auto term = [&row](double v) {
    row += ',';
    put(row, v);
  };
  if (s.codes.imode == 2) {
    const SoluteBalance &b = s.res.sbal;
    for (double v : {b.value, b.flux, b.fluid, b.recharge, b.rechargeDil,
                     b.leakage, b.leakageDil, b.decay, b.inFirst, b.inLast,
                     b.divergence, b.storage, b.imbalance})
      term(v);
  } else {
    const FlowBalance &b = s.res.fbal;
    for (double v :
         {b.head, b.flux, b.recharge, b.leakage, b.storage, b.imbalance})
      term(v);
  }
  s.io.balanceCsv.put(row);
}

void csvprof(State &s) {
  std::string h = "node,x";
  for (int k = 1; k <= s.obs.ntprof; ++k) {
    const int step = s.obs.ltprof(k);
    h += ",step ";
    put(h, step);
    h += " t=";
    // A profile whose step the run never reaches has no time.
    if (step >= 1 && step <= s.clock.nts)
      put(h, s.clock.timvec(step));
    else
      h += "nan";
  }
  s.io.profCsv.put(h);
  for (int ip = 1; ip <= s.mesh.np; ++ip) {
    std::string row;
    put(row, ip);
    row += ',';
    put(row, s.mesh.ecoord(ip));
    for (int k = 1; k <= s.obs.ntprof; ++k) {
      row += ',';
      put(row, s.obs.tmprof(k, ip));
    }
    s.io.profCsv.put(row);
  }
}

} // namespace qmr
