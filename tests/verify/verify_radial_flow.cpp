// Radial flow to a pumped well with the axisymmetric option: steady
// drawdown (Thiem) and transient drawdown (Theis).
//
// With the axisymmetric option every term is per radian, so a well pumping
// Q is a prescribed flux of -Q / (2 pi) at the well node (a positive flux
// is an inflow). The mesh is logarithmic from the well radius rw outwards,
// so every element spans the same ratio rho = r2 / r1 of radii.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "runs/run_args.hpp"
#include "verify_util.hpp"

namespace {

using namespace qmrverify;

constexpr double kPi = std::numbers::pi;
constexpr double kK = 20.0, kB = 5.0, kT = kK * kB; // T = 100
constexpr double kQ = 1000.0;                       // pumping rate
constexpr double kRw = 0.1;

// Theis well function W(u) = E1(u) = -Ei(-u).
double wellFunction(double u) { return -std::expint(-u); }

// The deck of a pumping test: log mesh rw..rmax of ne elements, well flux at
// node 1, head 0 held at the last node, initial heads 0.
struct Pumping {
  int ne = 200;
  double rmax = 1000.0;
  bool steady = true;
  double sc = 0.0, delta1 = 0.0;
  int nts = 1, ntslog = 0;
  int istep = 1; // print interval of nodal tables and mass balances
  std::vector<int> obs, profs;

  std::string deck() const {
    auto f = verificationDeck<FlowDeck>("WELL.LST", "WELL.GRA");
    f.ne = ne;
    f.codes.imshgn = 3; // logarithmic mesh
    f.codes.iaxsym = 1;
    f.codes.isstat = steady ? 1 : 0;
    f.codes.istep = istep;
    f.x1 = kRw;
    f.xn = rmax;
    f.nts = nts;
    f.delta1 = delta1;
    f.ntslog = ntslog;
    // No width in a radial model: unit width.
    f.media = {{kK, 0.0, sc, kB, 0.0, 0.0, 0.0, 0.0}};
    f.values = {{ne + 1, 0.0}};
    f.fluxes = {{1, -kQ / (2.0 * kPi)}};
    f.observations = obs;
    f.profiles = profs;
    return f.text();
  }
  // Radius of node ip.
  double radius(int ip) const {
    return kRw * std::pow(rmax / kRw, static_cast<double>(ip - 1) / ne);
  }
};

// Thiem: with the head held at 0 at r = R,
//   h(r) = -Q / (2 pi T) ln(R / r).
// Discretisation: each element conducts T rbar / L per radian, whereas the
// exact conductance of a ring from r1 to r2 is T / ln(r2 / r1). On a
// logarithmic mesh every element has the same ratio, so the discrete
// drawdown is the exact one times f = tanh(a) / a, a = ln(rho) / 2: a
// relative deficit of (ln rho)^2 / 12 = 1.8E-4 here (50 elements per
// decade). The heads are checked against Thiem with that allowance plus the
// print rounding, and against f times Thiem with the print rounding alone.
TEST(RadialFlow, ThiemSteadyDrawdown) {
  Pumping p;
  p.obs = {1, 51, 101, 151};
  p.profs = {1};
  const Scratch folder("v-thiem");
  const auto r = run(folder, p.deck(), "WELL.LST");
  const auto g = readGraphic(r.file("WELL.GRA"));
  const auto lst = r.file("WELL.LST");

  const double a = std::log(p.rmax / kRw) / p.ne / 2.0;
  const double f = std::tanh(a) / a;
  const double deficit = (2.0 * a) * (2.0 * a) / 12.0;
  ASSERT_EQ(g.prof.size(), static_cast<std::size_t>(p.ne + 1));
  const double sWell = kQ / (2.0 * kPi * kT) * std::log(p.rmax / kRw);
  double worst = 0.0, worstScaled = 0.0;
  for (int ip = 1; ip <= p.ne + 1; ++ip) {
    const double want =
        -kQ / (2.0 * kPi * kT) * std::log(p.rmax / p.radius(ip));
    const double got = g.profile(0, ip);
    if (std::fabs(want) > 0.1 * std::fabs(sWell))
      worst = std::max(worst, std::fabs(got - want) / std::fabs(want));
    worstScaled = std::max(worstScaled, std::fabs(got - f * want) /
                                            printed4(f * want, 1e-9));
    EXPECT_NEAR(got, want, deficit * 1.1 * std::fabs(want) + printed4(want))
        << "r " << p.radius(ip);
    EXPECT_NEAR(got, f * want, printed4(f * want, 1e-9))
        << "r " << p.radius(ip);
  }
  report("error against Thiem / drawdown (s > s_well / 10)", worst);
  report("expected discretisation deficit (ln rho)^2/12", deficit);
  report("error against f * Thiem / print rounding", worstScaled);

  // Observation row: drawdown at the well, r = 1, 10, 100.
  ASSERT_EQ(g.obs.size(), 1u);
  for (std::size_t j = 0; j < p.obs.size(); ++j) {
    const double want =
        -f * kQ / (2.0 * kPi * kT) * std::log(p.rmax / p.radius(p.obs[j]));
    EXPECT_NEAR(g.obs[0].v.at(2 + j), want, printed4(want)) << j;
  }

  // All the pumped water enters at the outer boundary: Q / (2 pi) per
  // radian.
  const auto fl = fluxTables(lst);
  ASSERT_EQ(fl.size(), 1u);
  ASSERT_EQ(fl[0].size(), 1u);
  EXPECT_NEAR(fl[0][0].rate, kQ / (2.0 * kPi), 5e-5 * kQ / (2.0 * kPi));
  const auto bal = balances(lst);
  ASSERT_EQ(bal.size(), 1u);
  EXPECT_NEAR(bal[0].fluxes, -kQ / (2.0 * kPi), 5e-5 * kQ / (2.0 * kPi));
  checkBalances(lst, 1e-9, 1);
}

// Theis: a well pumping Q from t = 0 in an infinite confined aquifer of
// transmissivity T and storage coefficient S:
//   s(r, t) = Q / (4 pi T) W(u), u = r^2 S / (4 T t).
// The mesh runs from rw = 0.1 m to 1E5 m (40 elements per decade), far
// beyond the reach of the drawdown (u > 2000 at the outer node at the last
// time), and the steps are logarithmic, 20 per decade from t1 = 1E-4 d.
// rw^2 S / (4 T t) < 3E-4 at the first step, so the finite well radius does
// not matter.
//
// Tolerance, with s0 = Q / (4 pi T):
// - space: the radial conductance deficit (ln rho)^2 / 12 = 2.8E-4 of the
//   drawdown (see Thiem above);
// - the first step, fully implicit from 0 to t1, errs by about 15 % at t1
//   near the well; that error fades like t1 / t (3E-3 at 10 t1, below the
//   space error from 100 t1 on);
// - the centred steps, each 12 % longer than the one before, err most where
//   the cone is just arriving (u ~ 1), by a few 1E-4 s0.
// From t = 100 t1 on we allow 1E-3 of the drawdown plus 1E-3 s0 plus the
// print rounding, at every observation row and over whole profiles; from
// 10 t1 on, 1E-2 of the drawdown plus 1E-3 s0. A pumping rate or T wrong by
// 1 % would exceed the late tolerance wherever the drawdown exceeds s0; S
// enters late drawdowns only through ln S, and S wrong by 10 % shifts them by
// 0.095 s0, several times the tolerance.
// The pumping test of the Theis comparisons: 240 elements to 1E5 m, 100
// logarithmic steps from 1E-4 d, observations at r = 1, 10, 100, 1000.
Pumping theisTest() {
  Pumping p;
  p.ne = 240;
  p.rmax = 1e5;
  p.steady = false;
  p.sc = 1e-3;
  p.delta1 = 1e-4;
  p.ntslog = 20;
  p.nts = 100;
  p.obs = {41, 81, 121, 161};
  return p;
}

TEST(RadialFlow, TheisTransientDrawdown) {
  Pumping p = theisTest();
  p.profs = {41, 70, 100};
  const Scratch folder("v-theis");
  const auto r = run(folder, p.deck(), "WELL.LST");
  const auto g = readGraphic(r.file("WELL.GRA"));
  const auto lst = r.file("WELL.LST");
  const double s0 = kQ / (4.0 * kPi * kT);
  auto theis = [&](double rad, double t) {
    return -s0 * wellFunction(rad * rad * p.sc / (4.0 * kT * t));
  };
  // The step times as the program builds them (the single-precision growth
  // factor of 20 steps per decade).
  const double tfact =
      static_cast<double>(std::pow(10.0f, 1.0f / static_cast<float>(p.ntslog)));
  std::vector<double> times;
  for (double e = p.delta1; static_cast<int>(times.size()) < p.nts; e *= tfact)
    times.push_back(e);
  const double t1 = times[0];
  auto allowed = [&](double want, double t) {
    return (t >= 100.0 * t1 * 0.999 ? 1e-3 : 1e-2) * std::fabs(want) +
           1e-3 * s0 + printed4(want);
  };

  ASSERT_EQ(g.obs.size(), static_cast<std::size_t>(p.nts));
  double worstAbs = 0.0, worstRel = 0.0, worstEarly = 0.0;
  for (const auto &row : g.obs) {
    const double t = times.at(static_cast<std::size_t>(row.n - 1));
    EXPECT_NEAR(row.v.at(0), t, 5e-4 * t);
    if (t < 10.0 * t1 * 0.999) continue;
    for (std::size_t j = 0; j < p.obs.size(); ++j) {
      const double want = theis(p.radius(p.obs[j]), t);
      const double got = row.v.at(2 + j);
      const double err = obsDeviation(got, want);
      if (t < 100.0 * t1 * 0.999) {
        worstEarly = std::max(worstEarly, err / s0);
      } else {
        worstAbs = std::max(worstAbs, err / s0);
        if (std::fabs(want) > 0.5 * s0)
          worstRel = std::max(worstRel, err / std::fabs(want));
      }
      EXPECT_LE(err, allowed(want, t))
          << "t " << t << " r " << p.radius(p.obs[j]) << " got " << got
          << " want " << want;
    }
  }
  report("observation error / s0, 10 t1 <= t < 100 t1", worstEarly);
  report("observation error / s0, t >= 100 t1", worstAbs);
  report("observation error / drawdown, s > s0 / 2", worstRel);

  // Profiles over the whole mesh at steps 41, 70 and 100.
  for (std::size_t k = 0; k < p.profs.size(); ++k) {
    const double t = times.at(static_cast<std::size_t>(p.profs[k] - 1));
    double worstP = 0.0;
    for (int ip = 1; ip <= p.ne + 1; ++ip) {
      const double want = theis(p.radius(ip), t);
      const double got = g.profile(k, ip);
      if (std::fabs(want) > 0.5 * s0)
        worstP = std::max(worstP, std::fabs(got - want) / std::fabs(want));
      EXPECT_NEAR(got, want, allowed(want, t))
          << "t " << t << " r " << p.radius(ip);
    }
    report("profile error / drawdown (s > s0 / 2), step " +
               std::to_string(p.profs[k]),
           worstP);
  }

  // Every step's balance: the pumping, Q / (2 pi) per radian over the step,
  // comes from storage (the outer boundary is never reached), to round-off.
  const auto bal = balances(lst);
  ASSERT_EQ(bal.size(), static_cast<std::size_t>(p.nts));
  for (int k = 0; k < p.nts; ++k) {
    const double dt = times[k] - (k > 0 ? times[k - 1] : 0.0);
    EXPECT_NEAR(bal[k].fluxes, -kQ / (2.0 * kPi) * dt, 5e-5 * kQ * dt);
    EXPECT_LE(std::fabs(bal[k].heads), 1e-6 * std::fabs(bal[k].fluxes));
    EXPECT_NEAR(bal[k].storage, bal[k].fluxes, 1e-6 * std::fabs(bal[k].fluxes));
  }
  checkBalances(lst, 1e-8, static_cast<std::size_t>(p.nts));
}

} // namespace

namespace {

// The derivatives of Theis drawdown with respect to the conductivity K
// (T = K b) and the storage coefficient S, from --sensitivity, against the
// analytical ones:
//   dh/dT = Q / (4 pi T^2) (W(u) - exp(-u)),  dh/dS = Q / (4 pi T S) exp(-u)
// (h = -s). Compared as the change for a relative change of the parameter
// (K dh/dK = T dh/dT, S dh/dS), they carry the same discretisation error as
// the drawdown itself, and are held to the same tolerance as the drawdown
// in the test above.
TEST(RadialFlow, TheisDerivatives) {
  const Pumping p = theisTest();
  const Scratch folder("v-theis-sens");
  qmrtest::writeFile(folder.path() / "VELDA.INP", p.deck());
  const auto r = qmrtest::runArgs(
      folder.path(), "--quiet --no-listing --sensitivity media[1].conductivity "
                     "--sensitivity media[1].storativity");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines =
      qmrtest::lines(qmrtest::readFile(folder.path() / "WELL.sens.csv"));
  const double s0 = kQ / (4.0 * kPi * kT);
  double worst[2] = {0.0, 0.0};
  int compared = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto f = qmrtest::splitCsv(lines[i]);
    if (f[1] != "observation") continue;
    const double t = std::stod(f[3]);
    if (t < 100.0 * p.delta1 * 0.999) continue; // the first step's error
    const double rad = std::stod(f[5]);
    const double u = rad * rad * p.sc / (4.0 * kT * t);
    const bool k = f[0] == "media[1].conductivity";
    // Relative derivatives: T dh/dT and S dh/dS.
    const double want =
        k ? s0 * (wellFunction(u) - std::exp(-u)) : s0 * std::exp(-u);
    const double got = std::stod(f[7]) * (k ? kK : p.sc);
    const double tol = 1e-3 * std::fabs(want) + 1e-3 * s0;
    worst[k ? 0 : 1] = std::max(worst[k ? 0 : 1], std::fabs(got - want) / s0);
    EXPECT_NEAR(got, want, tol) << f[0] << " t " << t << " r " << rad;
    EXPECT_TRUE(f[8].empty()) << lines[i];
    ++compared;
  }
  EXPECT_EQ(compared, 2 * 4 * 60);
  report("K dh/dK error / s0", worst[0]);
  report("S dh/dS error / s0", worst[1]);
}

// The measurements of --observations on the Theis test: drawdowns at radii
// between the nodes and times between the steps' ends, interpolated
// linearly in both, against Theis, s = s0 W(u), and their derivatives in
// X.sens.csv against T ds/dT = -s0 (W(u) - exp(-u)) and S ds/dS =
// -s0 exp(-u). The linear interpolation adds its own error to the
// discretisation's (the mesh has 40 elements and the steps 20 a decade):
// both are held to 5e-3 of s0.
TEST(RadialFlow, TheisMatchedDrawdownsAndDerivatives) {
  const Pumping p = theisTest();
  const Scratch folder("v-theis-match");
  qmrtest::writeFile(folder.path() / "VELDA.INP", p.deck());
  std::string csv = "name,x,time,value,kind\n";
  int n = 0;
  for (double rad : {0.7, 3.0, 17.0, 55.0})
    for (double t : {0.05, 0.33, 2.2, 7.7}) {
      if (rad * rad * p.sc / (4.0 * kT * t) > 2.0) continue; // not reached
      csv += "d" + std::to_string(++n) + "," + std::to_string(rad) + "," +
             std::to_string(t) + ",0,drawdown\n";
    }
  qmrtest::writeFile(folder.path() / "m.csv", csv);
  const auto r = qmrtest::runArgs(folder.path(),
                                  "--quiet --no-listing --observations m.csv "
                                  "--sensitivity media[1].conductivity "
                                  "--sensitivity media[1].storativity");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines =
      qmrtest::lines(qmrtest::readFile(folder.path() / "WELL.sens.csv"));
  const double s0 = kQ / (4.0 * kPi * kT);
  double worst[3] = {0.0, 0.0, 0.0};
  int compared = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto f = qmrtest::splitCsv(lines[i]);
    if (f[1] != "match") continue;
    const double t = std::stod(f[3]);
    const double rad = std::stod(f[5]);
    const double u = rad * rad * p.sc / (4.0 * kT * t);
    const bool k = f[0] == "media[1].conductivity";
    const double want =
        k ? -s0 * (wellFunction(u) - std::exp(-u)) : -s0 * std::exp(-u);
    const double got = std::stod(f[7]) * (k ? kK : p.sc);
    worst[k ? 0 : 1] = std::max(worst[k ? 0 : 1], std::fabs(got - want) / s0);
    EXPECT_NEAR(got, want, 5e-3 * s0) << f[0] << " t " << t << " r " << rad;
    const double drawdown = std::stod(f[6]);
    worst[2] =
        std::max(worst[2], std::fabs(drawdown - s0 * wellFunction(u)) / s0);
    EXPECT_NEAR(drawdown, s0 * wellFunction(u), 5e-3 * s0) << t << " " << rad;
    EXPECT_TRUE(f[4].empty()) << lines[i]; // between nodes
    ++compared;
  }
  EXPECT_EQ(compared, 2 * n);
  EXPECT_GE(n, 10);
  report("matched K ds/dK error / s0", worst[0]);
  report("matched S ds/dS error / s0", worst[1]);
  report("matched drawdown error / s0", worst[2]);
}

} // namespace
