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
std::string nodeLabel(const Mesh &mesh, int node) {
  std::string h = "node ";
  put(h, node);
  h += " x=";
  put(h, mesh.ecoord(node));
  return h;
}

void open(Files &io, const Options &opt, Unit &u, const char *suffix,
          const char *what) {
  // A check of the deck checks the names and makes no file.
  openOrFail(u, besideGraphic(io, suffix), what,
             opt.check ? &Unit::openDiscard : &Unit::openWrite,
             {&io.deck, &io.listing, &io.graphic, &io.flux, &io.restartOut,
              &io.velocity, &io.obsCsv, &io.profCsv, &io.fluxCsv});
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

std::string besideGraphic(const Files &io, const char *suffix) {
  std::filesystem::path p(io.graphic.path().empty() ? io.graphic.name()
                                                    : io.graphic.path());
  p.replace_extension(suffix);
  return p.string();
}

void opencsv(Files &io, const Options &opt, const Codes &codes,
             const Mesh &mesh, const Prescribed<double> &bc,
             const Observations &obs) {
  open(io, opt, io.obsCsv, ".obs.csv", "observation CSV file");
  open(io, opt, io.profCsv, ".prof.csv", "profile CSV file");
  open(io, opt, io.fluxCsv, ".flux.csv", "flux CSV file");
  open(io, opt, io.balanceCsv, ".balance.csv", "balance CSV file");

  std::string h = "step,time";
  for (int k = 1; k <= obs.nobs; ++k) h += "," + nodeLabel(mesh, obs.ldobs(k));
  io.obsCsv.put(h);

  h = "step,time";
  for (int ibt = 1; ibt <= bc.nbt; ++ibt) {
    const std::string node = nodeLabel(mesh, bc.idv(ibt));
    h += ",rate " + node + ",accumulated " + node;
  }
  io.fluxCsv.put(h);

  h = "step,time,";
  h += codes.imode == 2 ? kSoluteTerms : kFlowTerms;
  io.balanceCsv.put(h);
}

void csvstep(Files &io, const Codes &codes, const Clock &clock,
             const Prescribed<double> &bc, const Levels<double> &lev,
             const Observations &obs, Results &res) {
  std::string row;
  put(row, clock.its);
  row += ',';
  put(row, clock.ttime);
  const std::string head = row;

  for (int k = 1; k <= obs.nobs; ++k) {
    row += ',';
    put(row, lev.hdnew(obs.ldobs(k)));
  }
  io.obsCsv.put(row);

  // The reactions of the step's last solution, as a rate and accumulated.
  row = head;
  for (int ibt = 1; ibt <= bc.nbt; ++ibt) {
    res.csvacc(ibt) = res.csvacc(ibt) + bc.qvalb(ibt);
    row += ',';
    put(row, bc.qvalb(ibt) / clock.delta);
    row += ',';
    put(row, res.csvacc(ibt));
  }
  io.fluxCsv.put(row);

  row = head;
  auto term = [&row](double v) {
    row += ',';
    put(row, v);
  };
  if (codes.imode == 2) {
    const SoluteBalance &b = res.sbal;
    for (double v : {b.value, b.flux, b.fluid, b.recharge, b.rechargeDil,
                     b.leakage, b.leakageDil, b.decay, b.inFirst, b.inLast,
                     b.divergence, b.storage, b.imbalance})
      term(v);
  } else {
    const FlowBalance &b = res.fbal;
    for (double v :
         {b.head, b.flux, b.recharge, b.leakage, b.storage, b.imbalance})
      term(v);
  }
  io.balanceCsv.put(row);
}

void csvprof(Files &io, const Mesh &mesh, const Clock &clock,
             const Observations &obs) {
  std::string h = "node,x";
  for (int k = 1; k <= obs.ntprof; ++k) {
    const int step = obs.ltprof(k);
    h += ",step ";
    put(h, step);
    h += " t=";
    // A profile whose step the run never reaches has no time.
    if (step >= 1 && step <= clock.nts)
      put(h, clock.timvec(step));
    else
      h += "nan";
  }
  io.profCsv.put(h);
  for (int ip = 1; ip <= mesh.np; ++ip) {
    std::string row;
    put(row, ip);
    row += ',';
    put(row, mesh.ecoord(ip));
    for (int k = 1; k <= obs.ntprof; ++k) {
      row += ',';
      put(row, obs.tmprof(k, ip));
    }
    io.profCsv.put(row);
  }
}

} // namespace qmr
