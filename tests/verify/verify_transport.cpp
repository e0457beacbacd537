// Transport from a constant-concentration inlet in a uniform flow against
// the analytical solutions of the one-dimensional advection-dispersion
// equation: without and with retardation, with first-order decay (transient
// and steady), from a default velocity and from the velocity file of a flow
// run.
//
// Per unit width of aquifer, with Darcy velocity q, porosity n, pore
// velocity v = q / n, dispersivity alpha, diffusion D*, D = alpha v + D*,
// retardation R and decay lambda (acting on the sorbed solute too, as the
// storage does):
//   R dC/dt + v dC/dx = D d2C/dx2 - R lambda C,
// C = C0 at x = 0, C = 0 initially. With mu = R lambda and
// u = v sqrt(1 + 4 mu D / v^2) (van Genuchten and Alves, solution A1):
//   C / C0 = 1/2 exp((v - u) x / (2 D)) erfc((R x - u t) / (2 sqrt(D R t)))
//          + 1/2 exp((v + u) x / (2 D)) erfc((R x + u t) / (2 sqrt(D R t))),
// which for lambda = 0 is the solution of Ogata and Banks with v / R and
// D / R. The mesh ends in a free outflow (no dispersive flux) at x = L; the
// analytical column never ends, so nodes near the outlet are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "runs/run_args.hpp"
#include "verify_util.hpp"

namespace {

using namespace qmrverify;

struct Adr {
  double v = 0.0, d = 0.0, r = 1.0, lambda = 0.0;
  double operator()(double x, double t) const {
    const double mu = r * lambda;
    const double u = v * std::sqrt(1.0 + 4.0 * mu * d / (v * v));
    const double s = 2.0 * std::sqrt(d * r * t);
    return 0.5 * std::exp((v - u) * x / (2.0 * d)) *
               std::erfc((r * x - u * t) / s) +
           0.5 * std::exp((v + u) * x / (2.0 * d)) *
               std::erfc((r * x + u * t) / s);
  }
};

// The transport deck: uniform mesh of ne elements over len, one medium,
// linear steps of dt, inlet C0 = 1 at node 1, initial concentration 0.
struct Transport {
  int ne = 100;
  double len = 100.0;
  int nts = 100;
  double dt = 1.0;
  bool steady = false;
  TransportMedium m{1.0, 0.04, 0.25, 1.0, 0.0, 0.0, 0.0, 2.0};
  int iodarc = 0;          // 0: default velocity below; 1, 2: file
  double q = 0.1, b = 5.0; // default Darcy velocity per unit width, thickness
  std::vector<int> obs, profs;

  std::string deck() const {
    auto t = verificationDeck<TransportDeck>("TRANS.LST", "TRANS.GRA");
    t.ne = ne;
    t.xn = len;
    t.nts = nts;
    t.codes.isstat = steady ? 1 : 0;
    if (iodarc > 0) {
      t.velocity = "DARCY.VEL";
      t.codes.iodarc = iodarc;
    }
    t.media = {m};
    t.delta1 = dt;
    t.values = {{1, 1.0}};
    t.darcy = q;
    t.thick = b;
    t.observations = obs;
    t.profiles = profs;
    return t.text();
  }
  Adr solution() const {
    const double v = q / m.poros;
    return {v, m.alfal * v + m.difus, m.retar, m.decay};
  }
  double x(int ip) const { return len * (ip - 1) / ne; }
};

// Largest deviations of a transport run from the analytical solution: on the
// observation rows from step `from` on, and on each profile over x <= xmax.
struct Deviations {
  double obs = 0.0;
  std::vector<double> prof;
};
Deviations compare(const Transport &tr, const Graphic &g, int from,
                   double xmax) {
  const Adr c = tr.solution();
  Deviations dev;
  EXPECT_EQ(g.obs.size(), static_cast<std::size_t>(tr.nts));
  for (const auto &row : g.obs) {
    if (row.n < from) continue;
    const double t = tr.dt * row.n;
    for (std::size_t j = 0; j < tr.obs.size(); ++j)
      dev.obs = std::max(dev.obs,
                         obsDeviation(row.v.at(2 + j), c(tr.x(tr.obs[j]), t)));
  }
  EXPECT_EQ(g.prof.size(), static_cast<std::size_t>(tr.ne + 1));
  for (std::size_t k = 0; k < tr.profs.size(); ++k) {
    const double t = tr.dt * tr.profs[k];
    double worst = 0.0;
    for (int ip = 1; ip <= tr.ne + 1 && tr.x(ip) <= xmax; ++ip)
      worst = std::max(worst, std::fabs(g.profile(k, ip) - c(tr.x(ip), t)));
    dev.prof.push_back(worst);
  }
  return dev;
}

// Default case: q = 0.1 per unit width through n = 0.25 gives v = 0.4;
// alpha = 1 and D* = 0.04 give D = 0.44. Elements of 1 give a grid Peclet
// number v dx / D = 0.9, steps of 1 a Courant number of 0.4.
//
// Tolerance. Linear elements without upwinding and centred steps (after a
// fully implicit first one) are second order in dx and dt; the error is
// largest while the front is steep: about 1.5E-3 C0 at t = 10 (front spread
// sqrt(2 D t) = 3 elements; 3E-3 C0 with R = 2, whose front is narrower),
// falling below 1E-3 C0 by t = 50 as the front widens. We allow 5E-3 C0 on the
// breakthrough curves from t = 10 on and 2E-3 C0 on the profiles from t = 25 on
// (x <= 80, away from the outlet). A front one element out of place deviates by
// about 0.04 C0, a velocity wrong by 5 % by about 0.08 C0 at t = 100.
constexpr double kObsTol = 5e-3, kProfTol = 2e-3;

void checkDefaultCase(const Transport &tr, const Graphic &g,
                      const std::string &what) {
  const auto dev = compare(tr, g, 10, 80.0);
  report(what + ": breakthrough error (/ C0)", dev.obs);
  EXPECT_LE(dev.obs, kObsTol);
  for (std::size_t k = 0; k < dev.prof.size(); ++k) {
    report(what + ": profile error, step " + std::to_string(tr.profs[k]),
           dev.prof[k]);
    EXPECT_LE(dev.prof[k], kProfTol) << "step " << tr.profs[k];
  }
}

TEST(Transport, OgataBanksFromDefaultVelocity) {
  Transport tr;
  tr.obs = {11, 21, 31, 41}; // x = 10, 20, 30, 40
  tr.profs = {25, 50, 100};
  const Scratch folder("v-ogata");
  const auto r = run(folder, tr.deck(), "TRANS.LST");
  const auto g = readGraphic(r.file("TRANS.GRA"));
  checkDefaultCase(tr, g, "default velocity");
  // The front at t = 100 stands at x = vt = 40, where C/C0 is above 1/2.
  EXPECT_GT(g.profile(2, 41), 0.5);
  EXPECT_LT(g.profile(2, 41), 0.6);
}

// Retardation R = 2 halves the velocity and the dispersion coefficient of
// the front; same tolerances (the retarded front is as well resolved as the
// plain one at half the time).
TEST(Transport, OgataBanksWithRetardation) {
  Transport tr;
  tr.m.retar = 2.0;
  tr.obs = {6, 11, 16, 21};
  tr.profs = {25, 50, 100};
  const Scratch folder("v-retard");
  const auto r = run(folder, tr.deck(), "TRANS.LST");
  const auto g = readGraphic(r.file("TRANS.GRA"));
  checkDefaultCase(tr, g, "R = 2");
  // At t = 100 the retarded front stands at x = vt / R = 20, where C/C0 is
  // above 1/2 (the inlet term); without retardation it would be ~1.
  EXPECT_GT(g.profile(2, 21), 0.5);
  EXPECT_LT(g.profile(2, 21), 0.6);
}

// First-order decay lambda = 0.01 with R = 1.5 (mu = R lambda = 0.015):
// the front advances towards the steady profile exp((v - u) x / (2 D)),
// which decays by e over 31 m. Same tolerances: decay adds a zero-order
// term, exactly integrated in space by the consistent mass matrix up to
// O(dx^2) and in time to O((mu dt)^2); a decay rate wrong by 10 % would move
// the concentrations near x = 20 by 0.03 C0.
TEST(Transport, DecayAndRetardationTransient) {
  Transport tr;
  tr.m.retar = 1.5;
  tr.m.decay = 0.01;
  tr.obs = {11, 21, 31, 41};
  tr.profs = {25, 50, 100};
  const Scratch folder("v-decay");
  const auto r = run(folder, tr.deck(), "TRANS.LST");
  const auto g = readGraphic(r.file("TRANS.GRA"));
  checkDefaultCase(tr, g, "decay");
  // The decay shows: at t = 100, behind the front (x = 10), C/C0 is about
  // 0.7 instead of nearly 1.
  Adr plain = tr.solution();
  plain.lambda = 0.0;
  EXPECT_LT(g.profile(2, 11), plain(10.0, 100.0) - 0.25);
}

// Steady transport with decay: D C'' - v C' - R lambda C = 0 with C(0) = C0
// and no dispersive flux at the outlet x = L:
//   C = A exp(m1 x) + B exp(m2 x), m1,2 = (v +- u) / (2 D),
//   A + B = 1, A m1 exp(m1 L) + B m2 exp(m2 L) = 0.
// Here v = 0.4, D = 0.44, R lambda = 0.01: m2 = -0.024 per m. The Galerkin
// scheme is second order in dx (grid Peclet number 0.9); its error is below
// 1E-4 C0, the order of the print rounding. We allow 5E-4 C0 plus the print
// rounding on the whole mesh, outlet included; a decay rate wrong by 10 %
// would move C at x = 41 m by 0.035 C0.
TEST(Transport, SteadyDecayProfile) {
  Transport tr;
  tr.steady = true;
  tr.nts = 1;
  tr.m.decay = 0.005;
  tr.m.retar = 2.0;
  tr.obs = {21};
  tr.profs = {1};
  const Scratch folder("v-steady");
  const auto r = run(folder, tr.deck(), "TRANS.LST");
  const auto g = readGraphic(r.file("TRANS.GRA"));
  const Adr c = tr.solution();
  const double mu = c.r * c.lambda;
  const double u = std::sqrt(c.v * c.v + 4.0 * mu * c.d);
  const double m1 = (c.v + u) / (2.0 * c.d), m2 = (c.v - u) / (2.0 * c.d);
  // A = -B (m2 / m1) exp(m2 L) exp(-m1 L), written to keep exp(m1 x) from
  // overflowing.
  const double bb = 1.0 / (1.0 - m2 / m1 * std::exp((m2 - m1) * tr.len));
  auto exact = [&](double x) {
    return -bb * m2 / m1 * std::exp(m2 * tr.len) * std::exp(m1 * (x - tr.len)) +
           bb * std::exp(m2 * x);
  };
  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(tr.ne + 1));
  double worst = 0.0;
  for (int ip = 1; ip <= tr.ne + 1; ++ip) {
    const double want = exact(tr.x(ip));
    const double got = g.profile(0, ip);
    worst = std::max(worst, std::fabs(got - want));
    EXPECT_NEAR(got, want, 5e-4 + printed4(want)) << "x " << tr.x(ip);
  }
  report("steady decay profile error (/ C0)", worst);
}

// A confined flow run whose fixed heads give the same uniform Darcy velocity
// (K = 0.4, gradient 0.25: q = 0.1), width 2 and thickness 5, writes the
// velocity file (Darcy velocity x width, thickness, leakage, recharge per
// element); the transport run in the same folder reads it and must follow
// the same analytical solution as from the default velocity.
std::string flowDeck(int iodarc, int nts) {
  auto f = verificationDeck<FlowDeck>("FLOW.LST", "FLOW.GRA");
  f.ne = 100;
  f.xn = 100.0;
  f.nts = nts;
  f.velocity = "DARCY.VEL";
  f.codes.iodarc = iodarc;
  f.codes.isstat = nts == 1 ? 1 : 0;
  f.media = {{0.4, 0.0, 0.0, 5.0, 0.0, 0.0, 0.0, 2.0}}; // no storage: every
                                                        // step is steady
  f.values = {{1, 50.0}, {101, 25.0}};
  f.initial = 40.0;
  return f.text();
}

TEST(Transport, OgataBanksFromFlowVelocityFile) {
  for (int iodarc : {1, 2}) {
    const Scratch dir("v-chain");
    Transport tr;
    tr.iodarc = iodarc;
    tr.obs = {11, 21, 31, 41};
    tr.profs = {25, 50, 100};
    // One block (iodarc 1, steady flow run) or one per step (iodarc 2, a
    // run of as many steps as the transport run).
    const int flowSteps = iodarc == 1 ? 1 : tr.nts;
    const auto rf = run(dir, flowDeck(iodarc, flowSteps), "FLOW.LST");
    // The balance nets the inflow at x = 0 against the outflow at x = L:
    // q W b = 1 per unit time each way.
    checkBalances(rf.file("FLOW.LST"), 1e-9,
                  static_cast<std::size_t>(flowSteps), 1.0);
    const auto fl = fluxTables(rf.file("FLOW.LST"));
    ASSERT_EQ(fl.size(), static_cast<std::size_t>(flowSteps));
    for (const auto &step : fl) {
      ASSERT_EQ(step.size(), 2u);
      EXPECT_NEAR(step[0].rate, 1.0, 5e-5);
      EXPECT_NEAR(step[1].rate, -1.0, 5e-5);
    }
    const auto vel =
        qmrtest::lines(qmrtest::readFile(dir.path() / "DARCY.VEL"));
    ASSERT_EQ(vel.size(), iodarc == 1 ? 100u : 100u * tr.nts);
    // Each record: q W = 0.1 x 2 = 0.2, thickness 5, no leakage or recharge.
    for (const auto &l : {vel.front(), vel.back()}) {
      ASSERT_EQ(l.size(), 65u);
      EXPECT_NEAR(number(l.substr(5, 15)), 0.2, 1e-7);
      EXPECT_NEAR(number(l.substr(20, 15)), 5.0, 1e-7);
      EXPECT_NEAR(number(l.substr(35, 15)), 0.0, 1e-9);
      EXPECT_NEAR(number(l.substr(50, 15)), 0.0, 1e-9);
    }
    const auto r = run(dir, tr.deck(), "TRANS.LST");
    const auto g = readGraphic(r.file("TRANS.GRA"));
    checkDefaultCase(tr, g, "velocity file, code " + std::to_string(iodarc));
    // The same run as from the default velocity, to the seven digits of the
    // file: identical profiles.
    Transport plain;
    plain.obs = tr.obs;
    plain.profs = tr.profs;
    const Scratch folderP("v-plain");
    const auto rp = run(folderP, plain.deck(), "TRANS.LST");
    const auto gp = readGraphic(rp.file("TRANS.GRA"));
    ASSERT_EQ(gp.prof.size(), g.prof.size());
    for (std::size_t i = 0; i < g.prof.size(); ++i)
      for (std::size_t k = 0; k < tr.profs.size(); ++k)
        EXPECT_NEAR(g.prof[i].v.at(2 + k), gp.prof[i].v.at(2 + k),
                    printed4(gp.prof[i].v.at(2 + k), 1e-9));
  }
}

} // namespace

namespace {

// The derivatives of the breakthrough curves of the default case with
// respect to the dispersivity alpha and the Darcy velocity q (--sensitivity
// media[1].dispersivity, default_velocity), against the derivatives of the
// analytical solution (a five-point difference of its closed form, good to
// 1e-9 here). As the change for a relative change of the parameter (alpha
// dC/dalpha, q dC/dq) they carry the discretisation error of the
// concentrations themselves, and are held to the same tolerance, of C0 or
// of the derivative's own largest value where that is larger, from t = 10
// on.
TEST(Transport, OgataBanksDerivatives) {
  Transport tr;
  tr.obs = {11, 21, 31, 41};
  const Scratch folder("v-ogata-sens");
  qmrtest::writeFile(folder.path() / "VELDA.INP", tr.deck());
  const auto r = qmrtest::runArgs(
      folder.path(), "--quiet --no-listing --sensitivity "
                     "media[1].dispersivity --sensitivity default_velocity");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines =
      qmrtest::lines(qmrtest::readFile(folder.path() / "TRANS.sens.csv"));
  // The analytical derivative, scaled by the parameter.
  auto scaled = [&](bool alpha, double x, double t) {
    auto at = [&](double f) {
      Transport other = tr;
      if (alpha)
        other.m.alfal *= f;
      else
        other.q *= f;
      return other.solution()(x, t);
    };
    const double h = 1e-3;
    return (8.0 * (at(1 + h) - at(1 - h)) - (at(1 + 2 * h) - at(1 - 2 * h))) /
           (12.0 * h);
  };
  struct Row {
    bool alpha;
    double t, x, got, want;
  };
  std::vector<Row> rows;
  double peak[2] = {0.0, 0.0};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto f = qmrtest::splitCsv(lines[i]);
    if (f[1] != "observation") continue;
    const double t = std::stod(f[3]);
    if (t < 10.0 * 0.999) continue;
    const bool alpha = f[0] == "media[1].dispersivity";
    const double x = std::stod(f[5]);
    rows.push_back({alpha, t, x, std::stod(f[7]) * (alpha ? tr.m.alfal : tr.q),
                    scaled(alpha, x, t)});
    peak[alpha ? 0 : 1] =
        std::max(peak[alpha ? 0 : 1], std::fabs(rows.back().want));
  }
  // The tolerance of the concentrations (of C0), of C0 or of the largest
  // of the derivative where that is larger.
  double worst[2] = {0.0, 0.0};
  for (const Row &r : rows) {
    const int k = r.alpha ? 0 : 1;
    const double scale = std::max(1.0, peak[k]);
    worst[k] = std::max(worst[k], std::fabs(r.got - r.want) / scale);
    EXPECT_NEAR(r.got, r.want, kObsTol * scale)
        << (r.alpha ? "alpha" : "q") << " t " << r.t << " x " << r.x;
  }
  const std::size_t compared = rows.size();
  EXPECT_EQ(compared, 2u * 4u * 91u);
  report("alpha dC/dalpha error / max(C0, largest)", worst[0]);
  report("q dC/dq error / max(C0, largest)", worst[1]);
  report("largest alpha dC/dalpha, q dC/dq (/ C0)", std::max(peak[0], peak[1]));
}

} // namespace
