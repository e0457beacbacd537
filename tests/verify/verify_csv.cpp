// The CSV files of --csv: against the graphic file, the flux file and the
// listing (within their printed digits), against closed-form solutions at
// full precision, and the solute mass balance of transport runs (its
// imbalance at round-off level on runs with every source, and the decayed
// mass of a closed column).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "runs/run_args.hpp"
#include "verify_util.hpp"

namespace {

using namespace qmrverify;
using namespace qmrtest;
using qmrtest::Csv;
using qmrtest::Deck;
using qmrtest::readCsv;
using qmrtest::runArgs;

// The rows "(I10,42(1X,E11.4))" of a file, in file order.
std::vector<Row> rows(const std::string &text) {
  std::vector<Row> out;
  for (const auto &l : qmrtest::lines(text)) {
    Row r;
    if (parseRow(l, r)) out.push_back(r);
  }
  return out;
}

// Largest |value| of a row's terms (every column after step and time).
double largest(const std::vector<double> &row) {
  double m = 0.0;
  for (std::size_t i = 2; i + 1 < row.size(); ++i)
    m = std::max(m, std::fabs(row[i]));
  return m;
}

// ---------------------------------------------------------------------------
// Flow

// A transient confined flow run of 10 elements over 100 m, 8 steps of 2 d:
// fixed heads at both ends, recharge, aquitard leakage, a pumping well
// (prescribed flux) at node 6, and a flux file.
std::string flowDeck() {
  Deck d;
  d << "F  "
    << "FLOW.LST"
    << "FLOW.GRF"
    << "FLOW.FLX"
    << "CSV against the fixed-column files";
  d << record(Counts{10, 8, 1, 2, 1, 0, 3, 2});
  d << record(Codes{});
  d << fx(0.0) + fx(100.0) + fx(1.0);
  d << i5(1);
  FlowMedium m;
  m.k = 5.0;
  m.sc = 0.05;
  m.bott = 10.0;
  m.rech = 0.002;
  m.leak = 0.001;
  m.hfix = 12.0;
  m.width = 20.0;
  d << record(m);
  d << fx(0.0) + fx(2.0) + i5(0);
  d << nodeValue(1, 10.0) << nodeValue(11, 9.0);
  d << nodeValue(6, -30.0);
  d << fx(10.0);
  d << i5(3) << i5(6) << i5(9);
  d << i5(2) << i5(8);
  return d.text;
}

TEST(CsvOutputs, FlowAgreesWithTheGraphicFluxFileAndListing) {
  const Scratch dir("csv-flow");
  qmrtest::writeFile(dir.path() / "VELDA.INP", flowDeck());
  const auto r = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err;

  const Csv obs = readCsv(r.file("FLOW.obs.csv"));
  EXPECT_EQ(obs.header,
            (std::vector<std::string>{"step", "time", "node 3 x=20",
                                      "node 6 x=50", "node 9 x=80"}));
  const auto g = readGraphic(r.file("FLOW.GRF"));
  ASSERT_EQ(obs.rows.size(), 8u);
  ASSERT_EQ(g.obs.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) {
    const auto &c = obs.rows[k];
    const auto &gr = g.obs[k];
    EXPECT_EQ(c[0], gr.n);
    EXPECT_EQ(c[1], 2.0 * (k + 1)); // times are exact
    EXPECT_NEAR(gr.v[0], c[1], printed4(c[1]));
    for (std::size_t j = 0; j < 3; ++j)
      EXPECT_LE(obsDeviation(gr.v[2 + j], c[2 + j]), printed4(c[2 + j]))
          << "step " << k + 1 << " column " << j;
  }

  const Csv prof = readCsv(r.file("FLOW.prof.csv"));
  EXPECT_EQ(prof.header, (std::vector<std::string>{"node", "x", "step 2 t=4",
                                                   "step 8 t=16"}));
  ASSERT_EQ(prof.rows.size(), 11u);
  for (int ip = 1; ip <= 11; ++ip) {
    const auto &c = prof.rows[ip - 1];
    EXPECT_EQ(c[0], ip);
    EXPECT_EQ(c[1], 10.0 * (ip - 1));
    for (std::size_t k = 0; k < 2; ++k)
      EXPECT_NEAR(g.profile(k, ip), c[2 + k], printed4(c[2 + k]));
  }
  // The last profile is the heads of the last step.
  EXPECT_EQ(prof.rows[2][3], obs.rows[7][2]);

  // Fluxes: the rates of the flux file's step rows, the accumulated amounts
  // of its history, and the listing's flux tables.
  const Csv flux = readCsv(r.file("FLOW.flux.csv"));
  EXPECT_EQ(flux.header,
            (std::vector<std::string>{
                "step", "time", "rate node 1 x=0", "accumulated node 1 x=0",
                "rate node 11 x=100", "accumulated node 11 x=100"}));
  const auto fr = rows(r.file("FLOW.FLX"));
  ASSERT_EQ(fr.size(), 16u);
  const auto tables = fluxTables(r.file("FLOW.LST"));
  ASSERT_EQ(tables.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) {
    const auto &c = flux.rows[k];
    for (std::size_t j = 0; j < 2; ++j) {
      const double rate = c[2 + 2 * j], acc = c[3 + 2 * j];
      EXPECT_NEAR(fr[k].v[2 + j], rate, printed4(rate));
      EXPECT_NEAR(fr[8 + k].v[2 + j], acc, printed4(acc));
      EXPECT_NEAR(tables[k][j].rate, rate, 5e-5 * std::fabs(rate) + 1e-12);
      EXPECT_NEAR(tables[k][j].accum, acc, 5e-5 * std::fabs(acc) + 1e-12);
    }
  }

  // The balance: the listing's terms, and an imbalance at round-off level
  // (a linear confined run solves its system exactly).
  const Csv bal = readCsv(r.file("FLOW.balance.csv"));
  EXPECT_EQ(bal.header,
            (std::vector<std::string>{"step", "time", "prescribed_value",
                                      "prescribed_flux", "recharge", "leakage",
                                      "storage_increase", "imbalance"}));
  const auto bs = balances(r.file("FLOW.LST"));
  ASSERT_EQ(bs.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) {
    const auto &c = bal.rows[k];
    const double printed[] = {bs[k].heads,   bs[k].fluxes,  bs[k].recharge,
                              bs[k].leakage, bs[k].storage, bs[k].outOfBalance};
    for (std::size_t j = 0; j < 6; ++j)
      EXPECT_NEAR(printed[j], c[2 + j], 5e-5 * std::fabs(c[2 + j]) + 1e-300)
          << "step " << k + 1 << " term " << j;
    EXPECT_EQ(c[3], -30.0 * 2.0); // the well over the step
    // Recharge x width over 100 m and 2 d.
    EXPECT_NEAR(c[4], 0.002 * 20.0 * 100.0 * 2.0, 1e-13);
    EXPECT_LE(std::fabs(c[7]), 1e-12 * largest(c));
    // The prescribed-value term is the sum of the step's reactions.
    const double q1 = flux.rows[k][2] * 2.0, q2 = flux.rows[k][4] * 2.0;
    EXPECT_NEAR(c[2], q1 + q2, 1e-13 * (std::fabs(q1) + std::fabs(q2)));
  }
}

TEST(CsvOutputs, AProfileOfTheFirstStepHasItsTime) {
  // The profiles after steps 1 and 8 of 2 d each: at 2 and 16 d.
  const Scratch dir("csv-first-step");
  auto ls = qmrtest::lines(flowDeck());
  ASSERT_EQ(ls[ls.size() - 2], i5(2));
  ls[ls.size() - 2] = i5(1);
  qmrtest::writeFile(dir.path() / "VELDA.INP", qmrtest::joined(ls));
  const auto r = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      readCsv(r.file("FLOW.prof.csv")).header,
      (std::vector<std::string>{"node", "x", "step 1 t=2", "step 8 t=16"}));
}

// Recharge N on a confined aquifer between h1 at x = 0 and h2 at x = L:
// h(x) = h1 + (h2 - h1) x / L + N / (2 K b) x (L - x), reproduced exactly at
// the nodes of any mesh, with the boundary fluxes K b W h'(0) entering at
// x = 0 and -K b W h'(L) at x = L. The CSV files carry these to the last
// digits (the graded mesh's coordinates come from powers, so they are
// compared within a few units of round-off).
TEST(CsvOutputs, SteadyRechargeParabolaAtFullPrecision) {
  const double len = 1000.0, k = 10.0, b = 20.0, w = 50.0, n = 0.001;
  const double h1 = 2.0, h2 = 1.0, grade = 1.5;
  const int ne = 20;
  auto exact = [&](double x) {
    return h1 + (h2 - h1) * x / len + n / (2.0 * k * b) * x * (len - x);
  };
  Deck d;
  jobRecords(d, "F", "STEADY.LST", "STEADY.GRA");
  d << record(Counts{ne, 1, 1, 2, 0, 0, 3, 1});
  Codes c;
  c.isstat = 1;
  d << record(c);
  d << fx(0.0) + fx(len) + fx(grade);
  d << i5(1);
  FlowMedium m;
  m.k = k;
  m.bott = b;
  m.rech = n;
  m.width = w;
  d << record(m);
  d << nodeValue(1, h1) << nodeValue(ne + 1, h2);
  d << fx(0.0);
  d << i5(6) << i5(11) << i5(16);
  d << i5(1);
  const Scratch dir("csv-steady");
  qmrtest::writeFile(dir.path() / "VELDA.INP", d.text);
  const auto r = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err;

  auto xnode = [&](int ip) {
    return len * std::pow(static_cast<double>(ip - 1) / ne, grade);
  };
  const Csv prof = readCsv(r.file("STEADY.prof.csv"));
  ASSERT_EQ(prof.rows.size(), static_cast<std::size_t>(ne + 1));
  double worst = 0.0;
  for (int ip = 1; ip <= ne + 1; ++ip) {
    const double x = prof.rows[ip - 1][1];
    EXPECT_NEAR(x, xnode(ip), 1e-12 * len);
    worst = std::max(worst, std::fabs(prof.rows[ip - 1][2] - exact(x)));
  }
  report("profile error at full precision (m)", worst);
  EXPECT_LE(worst, 1e-12);

  const Csv obs = readCsv(r.file("STEADY.obs.csv"));
  ASSERT_EQ(obs.rows.size(), 1u);
  EXPECT_EQ(obs.rows[0][1], 1.0); // a steady state has one step at time 1
  for (int j = 0; j < 3; ++j) {
    // The coordinate in the heading reads back to the node's coordinate.
    const std::string &h = obs.header[2 + j];
    const double x = std::stod(h.substr(h.find("x=") + 2));
    EXPECT_EQ(x, prof.rows[5 * (j + 1)][1]) << h;
    EXPECT_NEAR(obs.rows[0][2 + j], exact(x), 1e-12);
  }

  const double t = k * b * w;
  const double in1 = -t * ((h2 - h1) / len + n / (2.0 * k * b) * len);
  const double in2 = t * ((h2 - h1) / len - n / (2.0 * k * b) * len);
  const Csv flux = readCsv(r.file("STEADY.flux.csv"));
  ASSERT_EQ(flux.rows.size(), 1u);
  EXPECT_NEAR(flux.rows[0][2], in1, 1e-12 * std::fabs(in1));
  EXPECT_NEAR(flux.rows[0][4], in2, 1e-12 * std::fabs(in2));
  const Csv bal = readCsv(r.file("STEADY.balance.csv"));
  EXPECT_NEAR(bal.rows[0][4], n * w * len, 1e-12 * n * w * len);
  EXPECT_EQ(bal.rows[0][6], 0.0);
  EXPECT_LE(std::fabs(bal.rows[0][7]), 1e-12 * n * w * len);
}

// ---------------------------------------------------------------------------
// Transport

// A transport run whose every term of the solute balance is at work: element
// velocities, thicknesses, leakage and recharge that vary from element to
// element (a velocity file written here), recharge and leakage carrying
// solute, decay and retardation, a fixed concentration at node 1, a flux of
// concentration and a fluid flux at node 7, centred steps after the first.
struct Sources {
  int ne = 12;
  bool radial = false;
  std::string deck() const {
    Deck d;
    jobRecords(d, "T", "SRC.LST", "SRC.GRF");
    d << record(Counts{ne, 10, 1, 1, 1, 0, 2, 1});
    Codes c;
    c.iodarc = 1;
    c.iaxsym = radial ? 1 : 0;
    d << record(c);
    d << "SRC.VEL"
      << "velocity file";
    d << fx(radial ? 1.0 : 0.0) + fx(radial ? 121.0 : 120.0) + fx(1.0);
    d << i5(1);
    d << record(TransportMedium{4.0, 0.01, 0.3, 1.8, 0.02, 5.0, 3.0, 2.0});
    d << fx(0.0) + fx(1.5) + i5(0);
    d << nodeValue(1, 10.0);
    d << i5(7) + i5(1) + fx(2.5) + fx(0.4);
    d << fx(1.0);
    d << i5(4) << i5(10);
    d << i5(5);
    return d.text;
  }
  std::string velocities() const {
    std::string v;
    for (int ie = 1; ie <= ne; ++ie) {
      char line[80];
      std::snprintf(line, sizeof line, "%5d%15.7E%15.7E%15.7E%15.7E\n", ie,
                    0.8 + 0.05 * ie, 4.0 + 0.1 * (ie % 3), 0.002 * (ie % 4),
                    0.001 * (1 + ie % 2));
      v += line;
    }
    return v;
  }
};

// Checks the balance rows of a transport run: every imbalance at round-off
// level against the largest term of its step; returns the balance.
Csv checkSoluteBalance(const qmrtest::Run &r, const std::string &name) {
  const Csv bal = readCsv(r.file(name));
  EXPECT_EQ(bal.header.back(), "imbalance");
  EXPECT_EQ(bal.header.size(), 15u);
  double worst = 0.0;
  for (const auto &row : bal.rows) {
    const double scale = largest(row);
    EXPECT_GT(scale, 0.0);
    worst = std::max(worst, std::fabs(row.back()) / scale);
  }
  report("solute imbalance / largest term", worst);
  EXPECT_LE(worst, 1e-12);
  return bal;
}

void everySource(bool radial) {
  Sources s;
  s.radial = radial;
  const Scratch dir(radial ? "csv-src-radial" : "csv-src");
  qmrtest::writeFile(dir.path() / "VELDA.INP", s.deck());
  qmrtest::writeFile(dir.path() / "SRC.VEL", s.velocities());
  const auto r = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err << r.file("SRC.LST");
  const Csv bal = checkSoluteBalance(r, "SRC.balance.csv");
  ASSERT_EQ(bal.rows.size(), 10u);
  // Every term of the balance is at work in this run.
  for (std::size_t j = 2; j + 1 < bal.header.size(); ++j) {
    double most = 0.0;
    for (const auto &row : bal.rows) most = std::max(most, std::fabs(row[j]));
    EXPECT_GT(most, 1e-6) << bal.header[j];
  }
  // Signs: decay and dilution remove solute, the fluid flux removes it, the
  // sources bring it.
  for (const auto &row : bal.rows) {
    EXPECT_LT(row[bal.col("decay")], 0.0);
    EXPECT_LT(row[bal.col("recharge_dilution")], 0.0);
    EXPECT_LT(row[bal.col("leakage_dilution")], 0.0);
    EXPECT_LT(row[bal.col("prescribed_fluid_flux")], 0.0);
    EXPECT_EQ(row[bal.col("prescribed_flux")], 2.5 * 1.5);
    EXPECT_GT(row[bal.col("recharge")], 0.0);
    EXPECT_GT(row[bal.col("leakage")], 0.0);
  }
  // The fluxes at the fixed node are its reactions: the balance's term.
  const Csv flux = readCsv(r.file("SRC.flux.csv"));
  ASSERT_EQ(flux.rows.size(), 10u);
  double acc = 0.0;
  for (std::size_t k = 0; k < 10; ++k) {
    const double amount = bal.rows[k][2];
    acc += amount;
    EXPECT_NEAR(flux.rows[k][2] * 1.5, amount, 1e-13 * std::fabs(amount));
    EXPECT_NEAR(flux.rows[k][3], acc, 1e-13 * std::fabs(acc));
  }
}

TEST(SoluteBalance, EverySourceClosesAtRoundOff) { everySource(false); }
TEST(SoluteBalance, EverySourceClosesAtRoundOffRadial) { everySource(true); }

// A column with a fixed inlet (C0 = 1 at node 1) and a free outlet in a
// uniform flow: the solute that the fixed node lets in leaves by advection
// at the outlet once the front has passed; a uniform discharge has no
// interior divergence.
TEST(SoluteBalance, FixedInletFreeOutlet) {
  Deck d;
  jobRecords(d, "T", "COL.LST", "COL.GRF");
  d << record(Counts{20, 40, 1, 1, 0, 0, 1, 0});
  d << record(Codes{});
  d << fx(0.0) + fx(20.0) + fx(1.0);
  d << i5(1);
  d << record(TransportMedium{0.5, 0.0, 0.25, 1.0, 0.0, 0.0, 0.0, 1.0});
  d << fx(0.0) + fx(1.0) + i5(0);
  d << nodeValue(1, 1.0);
  d << fx(0.0);
  d << fx(0.5) + fx(2.0); // v = 2 per unit time: through the column by t = 10
  d << i5(21);
  const Scratch dir("csv-column");
  qmrtest::writeFile(dir.path() / "VELDA.INP", d.text);
  const auto r = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv bal = checkSoluteBalance(r, "COL.balance.csv");
  const Csv obs = readCsv(r.file("COL.obs.csv"));
  ASSERT_EQ(bal.rows.size(), 40u);
  for (std::size_t k = 0; k < 40; ++k) {
    const auto &row = bal.rows[k];
    EXPECT_EQ(row[bal.col("advection_divergence")], 0.0);
    // Across the inlet: q b C0 = 0.5 x 2 x 1 per unit time.
    EXPECT_DOUBLE_EQ(row[bal.col("advection_first_node")], 1.0);
    // Across the outlet: q b times the mean outlet concentration.
    const double cout =
        k == 0 ? obs.rows[0][2] : 0.5 * (obs.rows[k][2] + obs.rows[k - 1][2]);
    EXPECT_NEAR(row[bal.col("advection_last_node")], -cout,
                1e-14 + 1e-13 * cout);
  }
  // Late on the column is full: what enters leaves, nothing is stored.
  const auto &last = bal.rows.back();
  EXPECT_GT(obs.rows.back()[2], 0.999);
  EXPECT_NEAR(last[bal.col("advection_last_node")], -1.0, 1e-3);
  EXPECT_LT(std::fabs(last[bal.col("storage_increase")]), 1e-3);
}

// A closed column (no flow, no fixed node) holding C0 with retardation R
// and decay lambda: every node keeps the same concentration, and the mass
// n R b W L C falls by the scheme's own factor per step,
//   (1 - (1 - theta) lambda dt) / (1 + theta lambda dt),
// theta = 1 on the first step and 0.5 after; that is exp(-lambda t) within
// the time-discretisation error.
TEST(SoluteBalance, DecayedMassOfAClosedColumn) {
  const double c0 = 2.0, r = 2.0, lambda = 0.05, dt = 2.0, n = 0.3, w = 3.0,
               b = 4.0, len = 50.0;
  const int nts = 20;
  Deck d;
  jobRecords(d, "T", "DECAY.LST", "DECAY.GRF");
  d << record(Counts{10, nts, 1, 0, 0, 0, 2, 0});
  d << record(Codes{});
  d << fx(0.0) + fx(len) + fx(1.0);
  d << i5(1);
  d << record(TransportMedium{1.0, 0.01, n, r, lambda, 0.0, 0.0, w});
  d << fx(0.0) + fx(dt) + i5(0);
  d << fx(c0);
  d << fx(0.0) + fx(b);
  d << i5(1) << i5(6);
  const Scratch dir("csv-decay");
  qmrtest::writeFile(dir.path() / "VELDA.INP", d.text);
  const auto run = runArgs(dir.path(), "--csv --quiet");
  ASSERT_EQ(run.status, 0) << run.err;
  const Csv bal = checkSoluteBalance(run, "DECAY.balance.csv");
  const Csv obs = readCsv(run.file("DECAY.obs.csv"));
  ASSERT_EQ(bal.rows.size(), static_cast<std::size_t>(nts));

  const double m0 = n * w * r * b * len * c0;
  double factor = 1.0, mass = m0, worstExp = 0.0;
  for (int k = 1; k <= nts; ++k) {
    const double theta = k == 1 ? 1.0 : 0.5;
    factor *= (1.0 - (1.0 - theta) * lambda * dt) / (1.0 + theta * lambda * dt);
    const auto &row = bal.rows[k - 1];
    mass += row[bal.col("storage_increase")];
    EXPECT_NEAR(mass, m0 * factor, 1e-12 * m0) << "step " << k;
    EXPECT_NEAR(row[bal.col("decay")], row[bal.col("storage_increase")],
                1e-12 * m0);
    for (std::size_t j = 2; j < 4; ++j)
      EXPECT_NEAR(obs.rows[k - 1][j], c0 * factor, 1e-13 * c0);
    worstExp =
        std::max(worstExp, std::fabs(mass / m0 - std::exp(-lambda * dt * k)));
  }
  report("decayed mass against exp(-lambda t)", worstExp);
  // The implicit first step alone is off by about (lambda dt)^2 / 2.
  EXPECT_LE(worstExp, 6e-3);
}

} // namespace
