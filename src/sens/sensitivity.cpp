#include "sens/sensitivity.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "drivers/flowbalance.hpp"
#include "drivers/solutebalance.hpp"
#include "drivers/velrecord.hpp"
#include "fem/flowstep.hpp"
#include "fem/transtep.hpp"
#include "input/spread.hpp"
#include "output/output.hpp"
#include "sens/flagreport.hpp"
#include "sens/tangent.hpp"
#include "sens/tangentsolve.hpp"
#include "sens/velocitysens.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

const char *const kHeader =
    "parameter,output,step,time,node,x,value,derivative,flag,name";

// Resizes an array of another number type as the run's array.
template <class A, class B> void sizeAs(A &to, const B &from) {
  to.resize(from.size());
}

// One row of X.sens.csv; a balance term has no node (node 0): its node and
// coordinate stay empty. A measurement (--observations) is named; between
// nodes it has a coordinate and no node.
void row(Unit &out, const Parameter &p, const char *output, const Clock &c,
         int node, double x, double value, double derivative,
         const std::string &flag, const std::string &name = {}) {
  std::string r = p.path + ',' + output + ',' + std::to_string(c.its) + ',' +
                  shortest(c.ttime) + ',';
  if (node > 0) r += std::to_string(node);
  r += ',';
  if (node > 0 || !name.empty()) r += shortest(x);
  r += ',' + shortest(value) + ',' + shortest(derivative) + ',' + flag + ',' +
       name;
  out.put(r);
}

class Chunk {
public:
  virtual ~Chunk() = default;
  // The iteration of the step; its listing reports go to listing when
  // there is one.
  virtual IterationEnd iterate(const State &s, IterationListing *listing) = 0;
  // The values of the iteration into the run's state (the chunk that
  // iterates for the run).
  virtual void deliver(State &s) const = 0;
  // The rest of the step: the flags and the rows.
  virtual void finish(const State &s, Unit &out) = 0;

  Unit *velocityOut_ = nullptr; // a flow run's V.sens.csv
};

// The derivatives with respect to up to N parameters.
template <int N> class TangentChunk : public Chunk {
  using T = Tangent<N>;

public:
  TangentChunk(const State &s, std::vector<Parameter> params,
               const VelocityDerivatives *chain)
      : p_(std::move(params)), scale_(p_.size(), 1.0), crit_(s.crit),
        chain_(chain) {
    const int imode = s.codes.imode;
    seedProperties(s, imode);
    seedPrescribed(s, imode);
    seedLevels(s, imode);
    band_.ifullb = s.band.ifullb;
    band_.ihalfb = s.band.ihalfb;
    band_.ihbp = s.band.ihbp;
    band_.astif.resize(s.band.astif.rows(), s.band.astif.cols());
    sizeAs(band_.aslod, s.band.aslod);
    accum_.assign(static_cast<std::size_t>(s.bc.nbt), T(0.0));
  }

  IterationEnd iterate(const State &s, IterationListing *listing) override {
    const Mesh &mesh = s.mesh;
    for (int i = 1; i <= mesh.nd; ++i) {
      lev_.hdnew(i) = lev_.hdold(i);
      band_.aslod(i) = 0.0;
      for (int j = 1; j <= band_.ifullb; ++j) band_.astif(i, j) = 0.0;
    }
    FlagReport<T> flags{
        crit_,  band_, lev_, scale_, flags_, toler_, s.codes.imode == kFlowRun,
        mesh.np};
    BothReports<T> report{flags, listing};
    if (s.codes.imode == kFlowRun) {
      FlowSystem<T> f{mesh, s.codes, s.clock, fprop_, bc_, lev_, band_, crit_};
      return flowIteration(f, report);
    }
    // Velocities read before every step: their derivatives come from the
    // flow run, block by block.
    if (s.codes.iodarc == 2) copyVelocities(s, s.clock.its);
    TransportSystem<T> t{mesh, s.codes, s.clock, tprop_,
                         bc_,  lev_,    band_,   crit_};
    return transportIteration(t, report);
  }

  // The system is scratch (every step starts from a clear one): the levels,
  // the reactions and the tolerance are what the step leaves.
  void deliver(State &s) const override {
    for (int i = 1; i <= s.mesh.nd; ++i) s.lev.hdnew(i) = lev_.hdnew(i).v;
    for (int k = 1; k <= s.bc.nbt; ++k) s.bc.qvalb(k) = bc_.qvalb(k).v;
    s.crit.toler = crit_.toler;
  }

  void finish(const State &s, Unit &out) override {
    const Mesh &mesh = s.mesh;
    for (int ip = 1; ip <= mesh.np; ++ip)
      if (lev_.hdnew(ip).v != s.lev.hdnew(ip)) flags_.mismatch = true;
    rows(s, out);
    if (!s.opt.observations.empty()) matchStep(s, out);
    if (s.codes.imode == kFlowRun && velocityBlockDue(s.codes, s.clock))
      velocityRows(s, *velocityOut_);
    for (int ip = 1; ip <= mesh.np; ++ip) lev_.hdold(ip) = lev_.hdnew(ip);
  }

private:
  // d/dp = 1 in the slot of parameter j; the parameter's magnitude is
  // kept for the flags (1 for a parameter whose value is 0).
  void seed(T &x, ParamKind kind, int index, int imode) {
    for (int j = 0; j < static_cast<int>(p_.size()); ++j)
      if (p_[j].is(kind, index, imode)) {
        x.d[j] = 1.0;
        scale_[j] = x.v != 0.0 ? std::fabs(x.v) : 1.0;
      }
  }

  void seedProperties(const State &s, int imode) {
    const Mesh &mesh = s.mesh;
    MediumTable<T> table;
    table.resize(s.media.prop.rows(), s.media.prop.cols());
    for (int imat = 1; imat <= s.media.nmat; ++imat)
      for (int k = 1; k <= kSlots; ++k) {
        table(k, imat) = s.media.prop(k, imat);
        for (int j = 0; j < static_cast<int>(p_.size()); ++j)
          if (p_[j].at->kind == ParamKind::Medium && p_[j].index == imat &&
              p_[j].slot(imode) == k) {
            table(k, imat).d[j] = 1.0;
            const double v = s.media.prop(k, imat);
            scale_[j] = v != 0.0 ? std::fabs(v) : 1.0;
          }
      }
    const FlowProperties<double> &fp = s.fprop;
    for (auto [to, from] : {std::pair{&fprop_.etran, &fp.etran},
                            {&fprop_.estor, &fp.estor},
                            {&fprop_.eqrch, &fp.eqrch},
                            {&fprop_.espec, &fp.espec},
                            {&fprop_.ebott, &fp.ebott},
                            {&fprop_.eleak, &fp.eleak},
                            {&fprop_.ehfix, &fp.ehfix},
                            {&fprop_.ewide, &fp.ewide},
                            {&fprop_.eqmax, &fp.eqmax}})
      sizeAs(*to, *from);
    sizeAs(fprop_.iqmax, fp.iqmax);
    fprop_.ilqmax = fp.ilqmax;
    if (imode == kFlowRun) {
      assignMedia<9>(s.codes, mesh, s.media, table,
                     [this](int le, const T *v) { assignFlow(fprop_, le, v); });
      scaleFlowElements(mesh, fprop_);
      return;
    }
    const TransportProperties<double> &tp = s.tprop;
    for (auto [to, from] : {std::pair{&tprop_.alfal, &tp.alfal},
                            {&tprop_.difus, &tp.difus},
                            {&tprop_.poros, &tp.poros},
                            {&tprop_.retar, &tp.retar},
                            {&tprop_.decay, &tp.decay},
                            {&tprop_.crech, &tp.crech},
                            {&tprop_.cleak, &tp.cleak},
                            {&tprop_.qrech, &tp.qrech},
                            {&tprop_.darcy, &tp.darcy},
                            {&tprop_.thick, &tp.thick},
                            {&tprop_.qleak, &tp.qleak}})
      sizeAs(*to, *from);
    assignMedia<8>(s.codes, mesh, s.media, table, [this](int le, const T *v) {
      assignTransport(tprop_, fprop_, le, v);
    });
    scaleTransportElements(mesh, fprop_, tprop_);
    if (s.codes.iodarc <= 0) {
      T edarcy = tp.edarcy;
      T ethick = tp.ethick;
      seed(edarcy, ParamKind::DefaultVelocity, 0, imode);
      seed(ethick, ParamKind::DefaultThickness, 0, imode);
      defaultVelocities(mesh, edarcy, ethick, fprop_, tprop_);
    } else {
      copyVelocities(s, 1);
    }
  }

  // The velocities the run read (block `block` of the velocity file), with
  // the derivatives of the flow run's records for its parameters. A
  // leakage or recharge rate the run took as 0 (the file's was negative)
  // has none.
  void copyVelocities(const State &s, int block) {
    for (int ie = 1; ie <= s.mesh.ne; ++ie) {
      tprop_.darcy(ie) = s.tprop.darcy(ie);
      tprop_.thick(ie) = s.tprop.thick(ie);
      tprop_.qleak(ie) = s.tprop.qleak(ie);
      tprop_.qrech(ie) = s.tprop.qrech(ie);
    }
    if (chain_ == nullptr) return;
    for (int j = 0; j < static_cast<int>(p_.size()); ++j) {
      if (p_[j].deck != "flow") continue;
      const auto &bs = chain_->blocks.at(withoutFlow(p_[j].path));
      if (block < 1 || block > static_cast<int>(bs.size())) continue;
      const auto &b = bs[static_cast<std::size_t>(block - 1)];
      for (int ie = 1; ie <= s.mesh.ne; ++ie) {
        const auto &d = b[static_cast<std::size_t>(ie - 1)];
        tprop_.darcy(ie).d[j] = d[0];
        tprop_.thick(ie).d[j] = d[1];
        tprop_.qleak(ie).d[j] = tprop_.qleak(ie).v != 0.0 ? d[2] : 0.0;
        tprop_.qrech(ie).d[j] = tprop_.qrech(ie).v != 0.0 ? d[3] : 0.0;
      }
    }
  }

  // A flow run's velocity block: the derivatives of its records.
  void velocityRows(const State &s, Unit &vel) {
    for (int j = 0; j < static_cast<int>(p_.size()); ++j)
      for (int ie = 1; ie <= s.mesh.ne; ++ie) {
        const VelocityValues<T> v =
            velocityRecord(s.codes, s.mesh, s.clock, fprop_, lev_, ie);
        vel.put(p_[j].path + "," + std::to_string(s.clock.its) + "," +
                std::to_string(ie) + "," + shortest(v.edarcy.d[j]) + "," +
                shortest(v.ethick.d[j]) + "," + shortest(v.eqleak.d[j]) + "," +
                shortest(v.eqrech.d[j]));
      }
  }

  void seedPrescribed(const State &s, int imode) {
    const Prescribed<double> &b = s.bc;
    bc_.nbt = b.nbt;
    bc_.ndf = b.ndf;
    bc_.nsb = b.nsb;
    bc_.idv = b.idv;
    bc_.isbv = b.isbv;
    sizeAs(bc_.valb, b.valb);
    sizeAs(bc_.qvalb, b.qvalb);
    sizeAs(bc_.bslod, b.bslod);
    sizeAs(bc_.bslqw, b.bslqw);
    for (int k = 1; k <= b.valb.size(); ++k) {
      bc_.valb(k) = b.valb(k);
      seed(bc_.valb(k), ParamKind::PrescribedValue, k, imode);
    }
    for (int k = 1; k <= b.bslod.size(); ++k) {
      bc_.bslod(k) = b.bslod(k);
      bc_.bslqw(k) = b.bslqw(k);
      seed(bc_.bslod(k),
           imode == kFlowRun ? ParamKind::FluxRate : ParamKind::SoluteFlux, k,
           imode);
      seed(bc_.bslqw(k), ParamKind::FluidFlux, k, imode);
    }
  }

  void seedLevels(const State &s, int imode) {
    sizeAs(lev_.hdold, s.lev.hdold);
    sizeAs(lev_.hdnew, s.lev.hdnew);
    const std::vector<int> &nodes = s.lev.npnonu;
    for (int ip = 1; ip <= s.lev.hdold.size(); ++ip) {
      lev_.hdold(ip) = s.lev.hdold(ip);
      if (ip <= s.mesh.np &&
          std::find(nodes.begin(), nodes.end(), ip) == nodes.end())
        seed(lev_.hdold(ip), ParamKind::InitialValue, 0, imode);
    }
    // A node given twice takes the last value.
    for (std::size_t k = 0; k < nodes.size(); ++k)
      if (std::find(nodes.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                    nodes.end(), nodes[k]) == nodes.end())
        seed(lev_.hdold(nodes[k]), ParamKind::InitialValues,
             static_cast<int>(k) + 1, imode);
  }

  void rows(const State &s, Unit &out) {
    const Mesh &mesh = s.mesh;
    const Options &opt = s.opt;
    const std::string flag = flags_.text();
    for (int k = 1; k <= s.bc.nbt; ++k)
      accum_[static_cast<std::size_t>(k - 1)] =
          accum_[static_cast<std::size_t>(k - 1)] + bc_.qvalb(k);
    const int stored = s.obs.itprof - 1; // profiles stored so far
    for (int j = 0; j < static_cast<int>(p_.size()); ++j) {
      const Parameter &p = p_[j];
      if (opt.sensObservations)
        for (int k = 1; k <= s.obs.nobs; ++k) {
          const int node = s.obs.ldobs(k);
          row(out, p, "observation", s.clock, node, mesh.ecoord(node),
              s.lev.hdnew(node), lev_.hdnew(node).d[j], flag);
        }
      if (opt.sensFluxes)
        for (int k = 1; k <= s.bc.nbt; ++k) {
          const int node = s.bc.idv(k);
          const T rate = bc_.qvalb(k) / s.clock.delta;
          const T &acc = accum_[static_cast<std::size_t>(k - 1)];
          row(out, p, "flux", s.clock, node, mesh.ecoord(node), rate.v,
              rate.d[j], flag);
          row(out, p, "accumulated_flux", s.clock, node, mesh.ecoord(node),
              acc.v, acc.d[j], flag);
        }
      if (opt.sensProfiles)
        for (int k = profiles_ + 1; k <= stored; ++k)
          for (int ip = 1; ip <= mesh.np; ++ip)
            row(out, p, "profile", s.clock, ip, mesh.ecoord(ip),
                s.obs.tmprof(k, ip), lev_.hdnew(ip).d[j], flag);
    }
    profiles_ = stored;
    if (opt.sensBalance) balanceRows(s, out, flag);
  }

  // --observations: the derivatives of the simulated values of the
  // measurements (the run's interpolation on the derivatives), with the
  // flags of the later step used; written after the last step.
  void matchStep(const State &s, Unit &out) {
    const Measurements &m = s.meas;
    if (s.clock.its == 1) {
      match_.start(m.rows, m.nodes, s.mesh.np, s.bc.nbt,
                   [this](int ip) { return lev_.hdold(ip); });
      matchFlags_.assign(m.rows.size(), "");
    }
    for (std::size_t i : match_.step(
             m.rows, m.nodes, s.bc.nbt, s.clock.its,
             [this](int ip) { return lev_.hdnew(ip); },
             [this](int k) { return bc_.qvalb(k); }, s.clock.delta))
      matchFlags_[i] = flags_.text();
    if (s.clock.its != s.clock.nts) return;
    Clock at;
    for (std::size_t j = 0; j < p_.size(); ++j)
      for (std::size_t i = 0; i < m.rows.size(); ++i) {
        const Measured &r = m.rows[i];
        const T &v = match_.simulated[i];
        at.its = r.s1;
        at.ttime = r.time;
        row(out, p_[j], "match", at, r.n0 == r.n1 ? r.n0 : 0, r.x, v.v, v.d[j],
            matchFlags_[i], r.name);
      }
  }

  // The terms of the step's mass balance (not the imbalance), with the
  // names of the CSV balance file.
  void balanceRows(const State &s, Unit &out, const std::string &flag) {
    std::vector<std::pair<const char *, T>> terms;
    if (s.codes.imode == kFlowRun) {
      T pfxsum = 0.0;
      for (int isb = 1; isb <= bc_.nsb; ++isb)
        pfxsum = pfxsum + bc_.bslod(isb) * s.clock.delta;
      T qdsum = 0.0;
      for (int ibt = 1; ibt <= bc_.nbt; ++ibt) qdsum = qdsum + bc_.qvalb(ibt);
      const FlowBalanceOf<T> b =
          flowBalance<T>(s.mesh, s.codes, s.clock, fprop_, lev_, pfxsum, qdsum);
      terms = {{"prescribed_value", b.head},
               {"prescribed_flux", b.flux},
               {"recharge", b.recharge},
               {"leakage", b.leakage},
               {"storage_increase", b.storage}};
    } else {
      const SoluteBalanceOf<T> b =
          soluteBalance<T>(s.mesh, s.codes, s.clock, tprop_, bc_, lev_);
      terms = {{"prescribed_value", b.value},
               {"prescribed_flux", b.flux},
               {"prescribed_fluid_flux", b.fluid},
               {"recharge", b.recharge},
               {"recharge_dilution", b.rechargeDil},
               {"leakage", b.leakage},
               {"leakage_dilution", b.leakageDil},
               {"decay", b.decay},
               {"advection_first_node", b.inFirst},
               {"advection_last_node", b.inLast},
               {"advection_divergence", b.divergence},
               {"storage_increase", b.storage}};
    }
    for (int j = 0; j < static_cast<int>(p_.size()); ++j)
      for (const auto &[name, v] : terms)
        row(out, p_[j], name, s.clock, 0, 0.0, v.v, v.d[j], flag);
  }

  std::vector<Parameter> p_;
  std::vector<double> scale_; // magnitude of each parameter
  FlowProperties<T> fprop_;
  TransportProperties<T> tprop_;
  Prescribed<T> bc_;
  Levels<T> lev_;
  Band<T> band_;
  Criteria crit_;
  T toler_ = crit_.toler;            // the tolerance with its derivatives
  std::vector<T> accum_;             // reactions accumulated since the start
  const VelocityDerivatives *chain_; // a transport run's flow derivatives

  Flags flags_;
  int profiles_ = 0;                    // profiles already written
  MatchValues<T> match_;                // --observations
  std::vector<std::string> matchFlags_; // by measurement
};

class NoSensitivity : public Sensitivity {
public:
  void step(State &) override {}
  StepCore *core() override { return nullptr; }
};

// The first chunk iterates for the run (its values are the run's, bit for
// bit); the others iterate beside it.
class Sensitivities : public Sensitivity, public StepCore {
public:
  explicit Sensitivities(std::unique_ptr<VelocityDerivatives> chain)
      : chain_(std::move(chain)) {}
  std::unique_ptr<VelocityDerivatives> chain_;
  std::vector<std::unique_ptr<Chunk>> chunks_;

  StepCore *core() override { return this; }
  IterationEnd flow(State &s, IterationListing &listing) override {
    return iterateFor(s, listing);
  }
  IterationEnd transport(State &s, IterationListing &listing) override {
    return iterateFor(s, listing);
  }
  // The first chunk iterated the step for the run (every step of a run
  // goes through core()); the others iterate it now.
  void step(State &s) override {
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
      if (i > 0) chunks_[i]->iterate(s, nullptr);
      chunks_[i]->finish(s, s.io.sensCsv);
    }
  }

private:
  IterationEnd iterateFor(State &s, IterationListing &listing) {
    Chunk &first = *chunks_.front();
    const IterationEnd end = first.iterate(s, &listing);
    first.deliver(s);
    return end;
  }
};

// The most parameters one chunk carries, and the chunk for a number of
// them: the smallest of the compiled widths that holds them.
constexpr std::size_t kLanes = 16;

std::unique_ptr<Chunk> chunkFor(std::vector<Parameter> p, const State &s,
                                const VelocityDerivatives *chain) {
  switch (p.size()) {
  case 1:
    return std::make_unique<TangentChunk<1>>(s, std::move(p), chain);
  case 2:
    return std::make_unique<TangentChunk<2>>(s, std::move(p), chain);
  case 3:
  case 4:
    return std::make_unique<TangentChunk<4>>(s, std::move(p), chain);
  case 5:
  case 6:
    return std::make_unique<TangentChunk<6>>(s, std::move(p), chain);
  case 7:
  case 8:
    return std::make_unique<TangentChunk<8>>(s, std::move(p), chain);
  case 9:
  case 10:
  case 11:
  case 12:
    return std::make_unique<TangentChunk<12>>(s, std::move(p), chain);
  default:
    return std::make_unique<TangentChunk<16>>(s, std::move(p), chain);
  }
}

// Why a parameter has no derivative in this deck; empty when it has one.
std::string noDerivative(const Parameter &p, const State &s) {
  if (p.at->kind != ParamKind::Medium) return "";
  const int slot = p.slot(s.codes.imode);
  const auto &one = s.media.standsForOne;
  if (std::find(one.begin(), one.end(), std::array<int, 2>{p.index, slot}) !=
      one.end())
    return "the deck's value 0 stands for 1";
  if (s.codes.imode == kFlowRun && slot == 9 &&
      s.media.prop(9, p.index) <= static_cast<double>(1.0E-10F))
    return "a maximum leakage rate of 0 stands for no cap";
  return "";
}

} // namespace

std::unique_ptr<Sensitivity> Sensitivity::start(State &s) {
  const std::vector<Parameter> &all = s.opt.sensitivity;
  if (all.empty()) return std::make_unique<NoSensitivity>();
  for (const Parameter &p : all)
    if (const std::string why = noDerivative(p, s); !why.empty())
      fail(s.io,
           "--sensitivity " + p.path + ": " + why + "; it has no derivative",
           kParameterFailure);
  Files &io = s.io;
  openOrFail(io.sensCsv, besideGraphic(io, ".sens.csv"), "sensitivity file",
             s.opt.check ? &Unit::openDiscard : &Unit::openWrite,
             {&io.deck, &io.listing, &io.graphic, &io.flux, &io.restartOut,
              &io.velocity, &io.obsCsv, &io.profCsv, &io.fluxCsv,
              &io.balanceCsv});
  io.sensCsv.put(kHeader);
  const auto create = s.opt.check ? &Unit::openDiscard : &Unit::openWrite;
  const std::string velocitySens = io.velocity.path() + ".sens.csv";
  std::unique_ptr<VelocityDerivatives> chain;
  if (s.codes.iodarc > 0 && s.codes.imode == kFlowRun) {
    openOrFail(io.velSensCsv, velocitySens, "velocity sensitivity file", create,
               {&io.deck, &io.listing, &io.graphic, &io.flux, &io.restartOut,
                &io.velocity, &io.obsCsv, &io.profCsv, &io.fluxCsv,
                &io.balanceCsv, &io.sensCsv});
    io.velSensCsv.put(kVelocityHeader);
  }
  if (s.codes.imode == kTransportRun &&
      std::any_of(all.begin(), all.end(),
                  [](const Parameter &p) { return p.deck == "flow"; }))
    chain = std::make_unique<VelocityDerivatives>(
        readVelocityDerivatives(io, velocitySens, all, s.mesh.ne));
  auto run = std::make_unique<Sensitivities>(std::move(chain));
  auto add = [&](auto chunk) {
    chunk->velocityOut_ = &io.velSensCsv;
    run->chunks_.push_back(std::move(chunk));
  };
  // One chunk for up to kLanes parameters: the value arithmetic is done
  // once for all of them.
  for (std::size_t i = 0; i < all.size(); i += kLanes)
    add(chunkFor(std::vector<Parameter>(
                     all.begin() + static_cast<std::ptrdiff_t>(i),
                     all.begin() + static_cast<std::ptrdiff_t>(
                                       std::min(i + kLanes, all.size()))),
                 s, run->chain_.get()));
  return run;
}

} // namespace qmr
