// The finite-element core on a number type that carries a derivative: a
// dual number (value, derivative) runs the flow iteration of whole steps of
// a small deck, and the derivative of every head with respect to the
// conductivity agrees with a central difference of the double program's own
// heads; on double the same core gives the program's heads to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "deck.hpp"
#include "fem/fem.hpp"
#include "fem/flowstep.hpp"
#include "input/input.hpp"
#include "run/run.hpp"
#include "support.hpp"

namespace dual {

// value + derivative × ε, with ε² = 0.
struct Dual {
  double v = 0.0;
  double d = 0.0;
  Dual() = default;
  Dual(double value) : v(value) {} // NOLINT: a constant has no derivative
  Dual(double value, double deriv) : v(value), d(deriv) {}
};

inline Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
inline Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
inline Dual operator-(Dual a) { return {-a.v, -a.d}; }
inline Dual operator*(Dual a, Dual b) {
  return {a.v * b.v, a.d * b.v + a.v * b.d};
}
inline Dual operator/(Dual a, Dual b) {
  return {a.v / b.v, (a.d * b.v - a.v * b.d) / (b.v * b.v)};
}
inline Dual operator+(Dual a, double b) { return a + Dual(b); }
inline Dual operator+(double a, Dual b) { return Dual(a) + b; }
inline Dual operator-(Dual a, double b) { return a - Dual(b); }
inline Dual operator-(double a, Dual b) { return Dual(a) - b; }
inline Dual operator*(Dual a, double b) { return {a.v * b, a.d * b}; }
inline Dual operator*(double a, Dual b) { return {a * b.v, a * b.d}; }
inline Dual operator/(Dual a, double b) { return {a.v / b, a.d / b}; }
inline double value(Dual a) { return a.v; }
inline Dual fabs(Dual a) { return a.v < 0.0 ? -a : a; }

} // namespace dual

namespace {

using dual::Dual;
using qmr::State;

// A report that counts the iterations of every step and the dry elements.
struct Count {
  std::vector<int> iterations;
  int dried = 0;
  void dry(int) { ++dried; }
  template <class L> void leakage(int, const L &) {}
  void iteration(int iter, const qmr::Scan &) {
    if (iter == 1) iterations.push_back(0);
    ++iterations.back();
  }
};

// The deck read as the program reads it, up to the first step.
std::unique_ptr<State> readDeck(const std::string &deck) {
  auto s = qmrtest::memState(deck);
  qmr::open1(s->io, s->opt, s->codes);
  qmr::input(*s);
  qmr::meshgn(s->io, s->opt, s->codes, s->mesh);
  qmr::mpropf(s->io, s->opt.values, s->codes, s->mesh, s->media, s->fprop);
  qmr::tmstep(s->io, s->codes, s->clock);
  qmr::pbc(s->io, s->opt.values, s->mesh, s->bc, s->res);
  qmr::pbflow(s->io, s->opt.values, s->mesh, s->bc);
  qmr::inital(s->io, s->opt.values, s->codes, s->mesh, s->clock, s->lev,
              s->band);
  qmr::nonlin(s->io, s->codes, s->fprop, s->crit);
  return s;
}

// Copies an array of doubles into one of another number type.
template <class T, int N>
void copyArr(qmr::Arr<T, N> &to, const qmr::Arr<double, N> &from) {
  to.resize(from.size());
  for (int i = 1; i <= from.size(); ++i) to(i) = from(i);
}

template <class T> struct Core {
  qmr::FlowProperties<T> prop;
  qmr::Prescribed<T> bc;
  qmr::Levels<T> lev;
  qmr::Band<T> band;
};

// The core's records in the number type T, from the state's doubles, the
// conductivity of every element scaled by `scale` (which carries the
// derivative's seed in a dual run).
template <class T> Core<T> core(const State &s, T scale) {
  Core<T> c;
  const auto &p = s.fprop;
  for (auto [to, from] : {std::pair{&c.prop.etran, &p.etran},
                          {&c.prop.estor, &p.estor},
                          {&c.prop.eqrch, &p.eqrch},
                          {&c.prop.espec, &p.espec},
                          {&c.prop.ebott, &p.ebott},
                          {&c.prop.eleak, &p.eleak},
                          {&c.prop.ehfix, &p.ehfix},
                          {&c.prop.ewide, &p.ewide},
                          {&c.prop.eqmax, &p.eqmax}})
    copyArr(*to, *from);
  for (int ie = 1; ie <= s.mesh.ne; ++ie)
    c.prop.etran(ie) = c.prop.etran(ie) * scale;
  c.prop.iqmax = p.iqmax;
  c.prop.ilqmax = p.ilqmax;
  c.bc.nbt = s.bc.nbt;
  c.bc.nsb = s.bc.nsb;
  c.bc.ndf = s.bc.ndf;
  c.bc.idv = s.bc.idv;
  c.bc.isbv = s.bc.isbv;
  copyArr(c.bc.valb, s.bc.valb);
  copyArr(c.bc.qvalb, s.bc.qvalb);
  copyArr(c.bc.bslod, s.bc.bslod);
  copyArr(c.bc.bslqw, s.bc.bslqw);
  copyArr(c.lev.hdold, s.lev.hdold);
  copyArr(c.lev.hdnew, s.lev.hdnew);
  c.band.ifullb = s.band.ifullb;
  c.band.ihalfb = s.band.ihalfb;
  c.band.ihbp = s.band.ihbp;
  c.band.astif.resize(s.band.astif.rows(), s.band.astif.cols());
  copyArr(c.band.aslod, s.band.aslod);
  return c;
}

// Every step of the deck on the core in T; the heads at the end of every
// step, and the iterations each step took.
template <class T>
std::vector<std::vector<T>> run(const std::string &deck, T scale,
                                Count &count) {
  auto s = readDeck(deck);
  Core<T> c = core(*s, scale);
  std::vector<std::vector<T>> heads;
  for (s->clock.its = 1; s->clock.its <= s->clock.nts; ++s->clock.its) {
    // The clock of the step (the double state's system is not used).
    qmr::tstart(s->clock, s->codes, s->mesh, s->band, s->lev, s->res, s->io);
    for (int ip = 1; ip <= s->mesh.np; ++ip) {
      c.lev.hdnew(ip) = c.lev.hdold(ip);
      c.band.aslod(ip) = 0.0;
      for (int j = 1; j <= c.band.ifullb; ++j) c.band.astif(ip, j) = 0.0;
    }
    qmr::FlowSystem<T> f{s->mesh, s->codes, s->clock, c.prop,
                         c.bc,    c.lev,    c.band,   s->crit};
    const qmr::IterationEnd end = qmr::flowIteration(f, count);
    EXPECT_FALSE(end.fault);
    heads.emplace_back();
    for (int ip = 1; ip <= s->mesh.np; ++ip) {
      heads.back().push_back(c.lev.hdnew(ip));
      c.lev.hdold(ip) = c.lev.hdnew(ip);
    }
  }
  return heads;
}

// The derivative of every head with respect to the conductivity (as a
// relative change of every element's conductivity) against the central
// difference of the double core; both differences take the iterations of
// the dual run, so they differentiate the same function.
void expectDerivativesAgree(const std::string &deck) {
  Count cd, cp, cm;
  const auto d = run<Dual>(deck, Dual(1.0, 1.0), cd);
  const double h = 1e-6;
  const auto p = run<double>(deck, 1.0 + h, cp);
  const auto m = run<double>(deck, 1.0 - h, cm);
  ASSERT_EQ(cp.iterations, cd.iterations);
  ASSERT_EQ(cm.iterations, cd.iterations);
  ASSERT_EQ(d.size(), p.size());
  double largest = 0.0;
  for (const auto &step : d)
    for (const Dual &x : step) largest = std::max(largest, std::fabs(x.d));
  ASSERT_GT(largest, 1e-3); // the heads do depend on the conductivity
  for (std::size_t k = 0; k < d.size(); ++k)
    for (std::size_t i = 0; i < d[k].size(); ++i) {
      const double central = (p[k][i] - m[k][i]) / (2 * h);
      EXPECT_NEAR(d[k][i].d, central,
                  1e-6 * std::max(std::fabs(central), 1e-3 * largest))
          << "step " << k + 1 << ", node " << i + 1;
    }
  // On double the core's heads are the value part of the dual run's.
  Count c1;
  const auto plain = run<double>(deck, 1.0, c1);
  for (std::size_t k = 0; k < d.size(); ++k)
    for (std::size_t i = 0; i < d[k].size(); ++i)
      EXPECT_EQ(plain[k][i], d[k][i].v);
}

// A confined aquifer between a fixed head and a pumping well, with recharge
// and capped leakage from above, in centred steps.
TEST(FemDual, ConfinedHeadsFollowTheConductivity) {
  qmrtest::FlowDeck f;
  f.ne = 8;
  f.xn = 80.0;
  f.nts = 6;
  f.delta1 = 0.5;
  f.media = {{2.0, 1e-4, 0.01, 5.0, 1e-3, 0.002, 12.0, 1.0, 0.004}};
  f.values = {{1, 10.0}};
  f.fluxes = {{9, -0.5}};
  f.initial = 10.0;
  expectDerivativesAgree(f.text());
}

// A water-table aquifer draining to a fixed head: the saturated thickness
// follows the heads, the iteration runs until the heads settle.
TEST(FemDual, WaterTableHeadsFollowTheConductivity) {
  qmrtest::FlowDeck f;
  f.ne = 6;
  f.xn = 60.0;
  f.nts = 4;
  f.delta1 = 1.0;
  f.codes.i2dwt = 1;
  f.media = {{1.5, 0.0, 0.15, 0.0, 2e-3, 0.0, 0.0, 1.0, 0.0}};
  f.values = {{1, 4.0}};
  f.initial = 6.0;
  f.nitmax = 50;
  f.toler = 1e-6;
  f.relax = 1.0;
  expectDerivativesAgree(f.text());
}

} // namespace
