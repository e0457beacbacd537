// Measured data (--observations FILE): each measurement, where and when it
// was taken, and the simulated value interpolated to it, linearly in time
// between the ends of the steps (the start of the run holds the initial
// values) and linearly in space between the nodes. The interpolation is a
// template on the number type: the run computes it on its doubles, the
// sensitivities on numbers that carry derivatives, with the same weights.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qmr {

// What a measurement measures.
enum class MeasuredKind {
  Head,          // the head at x (flow)
  Drawdown,      // the initial head at x less the head (flow)
  Concentration, // the concentration at x (transport)
  Flux,          // the rate at a prescribed-value node, as the flux CSV file
};

// One measurement, a row of the file.
struct Measured {
  std::string name;  // unique in the file
  std::string group; // the kind's name unless given
  MeasuredKind kind = MeasuredKind::Head;
  int line = 0;        // its line in the file
  double x = 0.0;      // coordinate (radius) [L]; a node's when named
  double time = 0.0;   // as given; the step's end in a steady run without one
  double value = 0.0;  // measured
  double weight = 1.0; // 1 / standard deviation
  int node = 0;        // the node named (node column), 0: given by x
  int ibt = 0;         // a flux: the prescribed-value node's index
  // Where: nodes n0 and n1 (equal at a node), the weight of n1.
  int n0 = 0, n1 = 0;
  double wx = 0.0;
  // When: the ends of steps s0 and s1 (equal at a step's end; 0 is the
  // start of the run), the weight of s1.
  int s0 = 0, s1 = 0;
  double wt = 0.0;
};

// a + w (b - a), a itself when w is 0.
template <class T> T between(const T &a, const T &b, double w) {
  return w == 0.0 ? a : a + w * (b - a);
}

// The simulated values of every measurement, followed through the steps:
// each is computed at the end of its step s1 from the values of that step
// and those kept from the step before.
template <class T> class MatchValues {
public:
  // Before the first step: the initial values (h(ip) of every node);
  // measurements at the start of the run are taken from them.
  template <class Init>
  void start(const std::vector<Measured> &rows, const std::vector<int> &nodes,
             int np, int nbt, const Init &h) {
    simulated.assign(rows.size(), T(0.0));
    initial_.assign(rows.size(), T(0.0));
    before_.assign(static_cast<std::size_t>(np) + 1, T(0.0));
    now_ = before_;
    rateBefore_.assign(static_cast<std::size_t>(nbt) + 1, T(0.0));
    rateNow_ = rateBefore_;
    for (int n : nodes) before_[at(n)] = h(n);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].kind == MeasuredKind::Flux) continue;
      initial_[i] = space(rows[i], before_);
      if (rows[i].s1 == 0)
        simulated[i] = rows[i].kind == MeasuredKind::Drawdown
                           ? initial_[i] - initial_[i]
                           : initial_[i];
    }
  }

  // At the end of step its: the nodes' values h(ip) and the reactions
  // q(ibt) of the step of length delta. Returns the measurements computed
  // (those whose step s1 is its).
  template <class Levels, class Rates>
  std::vector<std::size_t> step(const std::vector<Measured> &rows,
                                const std::vector<int> &nodes, int nbt, int its,
                                const Levels &h, const Rates &q, double delta) {
    for (int n : nodes) now_[at(n)] = h(n);
    for (int k = 1; k <= nbt; ++k) rateNow_[at(k)] = q(k) / delta;
    std::vector<std::size_t> done;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Measured &m = rows[i];
      if (m.s1 != its) continue;
      done.push_back(i);
      if (m.kind == MeasuredKind::Flux) {
        const std::size_t k = at(m.ibt);
        simulated[i] = m.s0 == m.s1
                           ? rateNow_[k]
                           : between(rateBefore_[k], rateNow_[k], m.wt);
        continue;
      }
      const T now = space(m, now_);
      const T v = m.s0 == m.s1 ? now : between(space(m, before_), now, m.wt);
      simulated[i] = m.kind == MeasuredKind::Drawdown ? initial_[i] - v : v;
    }
    for (int n : nodes) before_[at(n)] = now_[at(n)];
    rateBefore_.swap(rateNow_);
    return done;
  }

  std::vector<T> simulated; // by measurement, once its step is done

private:
  static std::size_t at(int i) { return static_cast<std::size_t>(i); }
  static T space(const Measured &m, const std::vector<T> &v) {
    return m.n0 == m.n1 ? v[at(m.n0)] : between(v[at(m.n0)], v[at(m.n1)], m.wx);
  }

  std::vector<T> initial_;      // by measurement: the initial value at x
  std::vector<T> before_, now_; // by node: the step before, this one
  std::vector<T> rateBefore_, rateNow_; // by prescribed-value node
};

// The measurements of a run (--observations), and their simulated values.
struct Measurements {
  std::vector<Measured> rows; // in the file's order
  std::vector<int> nodes;     // the nodes they need, each once
  MatchValues<double> run;    // the run's simulated values
};

// The name of a kind, as in the file.
inline const char *kindName(MeasuredKind kind) {
  switch (kind) {
  case MeasuredKind::Head:
    return "head";
  case MeasuredKind::Drawdown:
    return "drawdown";
  case MeasuredKind::Concentration:
    return "concentration";
  case MeasuredKind::Flux:
    return "flux";
  }
  return "";
}

} // namespace qmr
