// Measured data (--observations FILE): every fault of the file ends the run
// before its first step, status 1, naming the file and the line; a file
// that cannot be read is a usage error; --check checks the file and writes
// nothing; X.match.csv in the file's order; and the measurements'
// derivatives in X.sens.csv against central differences through --set on a
// transport deck.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "deck.hpp"
#include "run_args.hpp"
#include "support.hpp"
#include "verify/verify_util.hpp"

namespace {

using qmrtest::FlowDeck;
using qmrtest::runArgs;
using qmrtest::TransportDeck;
using qmrverify::Scratch;
namespace fs = std::filesystem;

// Ten elements of 10 m from x = 0; steps ending at 1, 2, 3, 4; a fixed
// head at node 1 and a pumped node 11.
FlowDeck flow() {
  FlowDeck f;
  f.ne = 10;
  f.xn = 100.0;
  f.nts = 4;
  f.delta1 = 1.0;
  f.media = {{2.0, 1e-4, 0.01, 5.0, 0.0, 0.0, 0.0, 1.0, 0.0}};
  f.values = {{1, 10.0}};
  f.fluxes = {{11, -0.5}};
  f.initial = 10.0;
  f.observations = {6};
  return f;
}

TEST(Observations, EveryFaultEndsTheRunBeforeItsFirstStepNamingTheLine) {
  const std::string head = "name,x,time,value,sd,kind,node\n";
  const std::string good = "a,15,1.5,9.9,,,\n";
  for (auto [rows, why] : std::vector<std::pair<std::string, std::string>>{
           {"b,150,1.5,9,,,\n", "line 3 (observation 2): x = 150 is outside "
                                "the mesh (0 to 100)"},
           {"b,-0.5,1.5,9,,,\n", "x = -0.5 is outside the mesh"},
           {"b,15,4.5,9,,,\n",
            "line 3 (observation 2): the time 4.5 is outside the run's span "
            "(0 to 4)"},
           {"b,15,-1,9,,,\n", "the time -1 is outside"},
           {"b,15,1.5,,,,\n", "line 3 (observation 2): the value \"\" is not"},
           {"b,15,1.5,9\n", "the line has 4 fields, the header 7 or more"},
           {"b,15,1.5,9,0,,\n", "the standard deviation \"0\" is not"},
           {"b,15,1.5,9,-1,,\n", "the standard deviation \"-1\" is not"},
           {"b,15,1.5,nan,,,\n", "the value \"nan\" is not a finite number"},
           {"b,15,abc,9,,,\n", "the time \"abc\" is not a finite number"},
           {"b,15,1.5,9,,level,\n", "the kind \"level\" is none of head, "
                                    "drawdown, flux"},
           {"b,15,1.5,9,,concentration,\n",
            "a flow run has no kind concentration"},
           {"b,,1.5,9,,flux,6\n", "node 6 is not a prescribed-value node"},
           {"b,15,1.5,9,,flux,\n", "a flux names its prescribed-value node"},
           {"b,,1.5,9,,,12\n", "the node \"12\" is no node of the mesh"},
           {"b,,1.5,9,,,2.5\n", "the node \"2.5\" is no node"},
           {"b,15,1.5,9,,,3\n", "both x and node are given"},
           {"b,,1.5,9,,,\n", "neither x nor node is given"},
           {"a,25,1.5,9,,,\n",
            "line 3 (observation 2): the name a is given twice (line 2)"},
           {",25,1.5,9,,,\n", "the name is empty"},
           {"\"b,c\",25,1.5,9,,,\n", "holds a comma"},
           {"\"b,25,1.5,9,,,\n", "line 3: a quoted field is not closed"}}) {
    Scratch dir("obs-fault");
    qmrtest::writeFile(dir.path() / "VELDA.INP", flow().text());
    qmrtest::writeFile(dir.path() / "m.csv", head + good + rows);
    const auto r = runArgs(dir.path(), "--quiet --observations m.csv");
    EXPECT_EQ(r.status, 1) << rows;
    EXPECT_NE(r.err.find("--observations m.csv, line 3"), std::string::npos)
        << rows << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << rows << r.err;
    EXPECT_EQ(qmrtest::count(r.err, "\n"), 1) << r.err; // one line
    const std::string lst = qmrtest::readFile(dir.path() / "run.lst");
    EXPECT_EQ(qmrtest::count(lst, "TIME STEP NUMBER"), 0) << rows;
    EXPECT_NE(lst.find("ERROR IN THE FILE OF OBSERVATIONS"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path() / "run.match.csv")) << rows;
    // --check says the same, and writes nothing.
    Scratch check("obs-fault-check");
    qmrtest::writeFile(check.path() / "VELDA.INP", flow().text());
    qmrtest::writeFile(check.path() / "m.csv", head + good + rows);
    const auto c =
        runArgs(check.path(), "--quiet --check --observations m.csv");
    EXPECT_EQ(c.status, 1) << rows;
    EXPECT_NE(c.err.find(why), std::string::npos) << rows << c.err;
    EXPECT_EQ(qmrtest::filesIn(check.path()),
              (std::vector<std::string>{"VELDA.INP", "m.csv"}));
  }
  // Faults of the header.
  for (auto [text, why] : std::vector<std::pair<std::string, std::string>>{
           {"", "the file has no header line"},
           {"name,x,value\na,15,9\n", "line 1: the header has no column time"},
           {"name,time,value\na,1,9\n", "the header has no column x or node"},
           {"x,time,value\n15,1,9\n", "the header has no column name"},
           {"name,x,time,value,x\n", "the column x is given twice"}}) {
    Scratch dir("obs-header");
    qmrtest::writeFile(dir.path() / "VELDA.INP", flow().text());
    qmrtest::writeFile(dir.path() / "m.csv", text);
    const auto r = runArgs(dir.path(), "--quiet --observations m.csv");
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_NE(r.err.find(why), std::string::npos) << text << r.err;
  }
  // A transport run has no heads.
  TransportDeck t;
  t.values = {{1, 1.0}};
  Scratch dir("obs-transport-kind");
  qmrtest::writeFile(dir.path() / "VELDA.INP", t.text());
  qmrtest::writeFile(dir.path() / "m.csv",
                     "name,x,time,value,kind\na,15,1,0.5,drawdown\n");
  const auto r = runArgs(dir.path(), "--quiet --observations m.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a transport run has no kind drawdown"),
            std::string::npos)
      << r.err;
}

TEST(Observations, UnreadableFileIsAUsageErrorAndCheckWritesNothing) {
  Scratch dir("obs-usage");
  qmrtest::writeFile(dir.path() / "VELDA.INP", flow().text());
  auto r = runArgs(dir.path(), "--observations missing.csv");
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("cannot read the observation file \"missing.csv\""),
            std::string::npos);
  EXPECT_EQ(runArgs(dir.path(), "--observations").status, 64);
  qmrtest::writeFile(dir.path() / "m.csv", "name,x,time,value\na,15,1.5,9\n");
  EXPECT_EQ(
      runArgs(dir.path(), "--observations m.csv --observations m.csv").status,
      64);
  EXPECT_EQ(qmrtest::filesIn(dir.path()),
            (std::vector<std::string>{"VELDA.INP", "m.csv"}));
  r = runArgs(dir.path(), "--quiet --check --observations m.csv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qmrtest::filesIn(dir.path()),
            (std::vector<std::string>{"VELDA.INP", "m.csv"}));
}

// Hand-checked values on a steady run and at the start of a transient one:
// a steady run's one solution holds at any time of its span, and its time
// may be left out.
TEST(Observations, SteadyRunAndTheStartByHand) {
  // Heads 10 at x = 0 and 6 at x = 100, no storage, recharge or leakage:
  // a straight line, 10 - 0.04 x, exact at the nodes and between them.
  FlowDeck f = flow();
  f.codes.isstat = 1;
  f.values = {{1, 10.0}, {11, 6.0}};
  f.fluxes.clear();
  Scratch dir("obs-steady");
  qmrtest::writeFile(dir.path() / "VELDA.INP", f.text());
  qmrtest::writeFile(dir.path() / "m.csv", "name,x,time,value,sd,group\n"
                                           "a,25,,9,0.5,\n"
                                           "b,62.5,0.5,7,,wells\n"
                                           "c,100,1,6,,\n");
  auto r = runArgs(dir.path(), "--quiet --observations m.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  auto m = qmrtest::lines(qmrtest::readFile(dir.path() / "run.match.csv"));
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0], "name,group,kind,x,time,measured,simulated,residual,weight,"
                  "weighted_residual");
  auto at = [&](std::size_t i, std::size_t col) {
    return std::stod(qmrtest::splitCsv(m[i])[col]);
  };
  EXPECT_EQ(qmrtest::splitCsv(m[1])[1], "head"); // the group: the kind
  EXPECT_EQ(qmrtest::splitCsv(m[2])[1], "wells");
  EXPECT_EQ(at(1, 4), 1.0); // no time: the steady step's end
  for (auto [i, want] : std::vector<std::pair<std::size_t, double>>{
           {1, 9.0}, {2, 7.5}, {3, 6.0}})
    EXPECT_NEAR(at(i, 6), want, 1e-12) << m[i];
  EXPECT_NEAR(at(1, 9), 2.0 * (9.0 - at(1, 6)), 1e-15); // weight 1 / 0.5
  qmrtest::writeFile(dir.path() / "m.csv", "name,x,time,value\na,25,2,9\n");
  r = runArgs(dir.path(), "--quiet --observations m.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the time 2 is outside the run's span (0 to 1)"),
            std::string::npos)
      << r.err;

  // At the start of a transient run: the initial values, a drawdown of 0.
  f = flow();
  f.nonuniform = {{3, 12.0}};
  Scratch start("obs-start");
  qmrtest::writeFile(start.path() / "VELDA.INP", f.text());
  qmrtest::writeFile(start.path() / "m.csv", "name,x,time,value,kind\n"
                                             "a,25,0,11,\n"
                                             "b,25,0,0,drawdown\n"
                                             "c,20,0,12,head\n");
  r = runArgs(start.path(), "--quiet --observations m.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  m = qmrtest::lines(qmrtest::readFile(start.path() / "run.match.csv"));
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(qmrtest::splitCsv(m[1])[6], "11"); // halfway from 12 to 10
  EXPECT_EQ(qmrtest::splitCsv(m[2])[6], "0");
  EXPECT_EQ(qmrtest::splitCsv(m[3])[6], "12");
}

// The simulated column of X.match.csv of a run with the parameter set to v.
std::vector<double> simulated(const fs::path &dir, const std::string &path,
                              double v, const std::string &more = "") {
  const auto r = runArgs(dir, "--quiet --no-listing --observations m.csv "
                              "--set " +
                                  path + "=" + qmrtest::digits17(v) + more);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<double> out;
  const auto ls = qmrtest::lines(qmrtest::readFile(dir / "run.match.csv"));
  for (std::size_t i = 1; i < ls.size(); ++i)
    out.push_back(std::stod(qmrtest::splitCsv(ls[i])[6]));
  return out;
}

TEST(Observations, MatchDerivativesAreCentralDifferences) {
  TransportDeck t = qmrtest::smallTransport();
  t.observations = {3};
  Scratch dir("obs-derivatives");
  qmrtest::writeFile(dir.path() / "VELDA.INP", t.text());
  // Between nodes and step ends, at a node and a step's end, in the first
  // step, the reaction at the fixed concentration.
  qmrtest::writeFile(dir.path() / "m.csv", "name,x,node,time,value,kind\n"
                                           "a,12.5,,3,0.5,\n"
                                           "b,,6,8,0.2,concentration\n"
                                           "c,31.7,,19.3,0.3,\n"
                                           "d,2,,1,0.9,\n"
                                           "e,,1,7.1,0.0,flux\n");
  const std::vector<std::pair<std::string, double>> params = {
      {"media[1].dispersivity", 2.0},
      {"media[1].retardation", 1.5},
      {"default_velocity", 0.2},
      {"prescribed_values[1].value", 1.0}};
  std::string args = "--quiet --no-listing --observations m.csv";
  for (const auto &[p, v] : params) args += " --sensitivity " + p;
  ASSERT_EQ(runArgs(dir.path(), args).status, 0);
  const auto ls =
      qmrtest::lines(qmrtest::readFile(dir.path() / "run.sens.csv"));
  std::vector<std::vector<std::string>> match;
  for (const auto &l : ls)
    if (l.find(",match,") != std::string::npos)
      match.push_back(qmrtest::splitCsv(l));
  ASSERT_EQ(match.size(), params.size() * 5);
  std::vector<double> base;
  for (std::size_t i = 1; i <= 5; ++i)
    base.push_back(std::stod(qmrtest::splitCsv(qmrtest::lines(
        qmrtest::readFile(dir.path() / "run.match.csv"))[i])[6]));
  int compared = 0;
  for (std::size_t j = 0; j < params.size(); ++j) {
    const auto &[path, v0] = params[j];
    const double h = 1e-3 * std::fabs(v0);
    const auto p1 = simulated(dir.path(), path, v0 + h);
    const auto m1 = simulated(dir.path(), path, v0 - h);
    const auto p2 = simulated(dir.path(), path, v0 + 2 * h);
    const auto m2 = simulated(dir.path(), path, v0 - 2 * h);
    ASSERT_EQ(p1.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
      const auto &row = match[j * 5 + i];
      EXPECT_EQ(row[0], path);
      EXPECT_EQ(row[9], std::string(1, static_cast<char>('a' + i)));
      EXPECT_EQ(std::stod(row[6]), base[i]); // the value of X.match.csv
      const double central =
          (8.0 * (p1[i] - m1[i]) - (p2[i] - m2[i])) / (12.0 * h);
      const double d = std::stod(row[7]);
      EXPECT_TRUE(row[8].empty()) << row[8];
      EXPECT_NEAR(d, central, 1e-6 * std::fabs(central) + 1e-9 / v0)
          << path << " " << row[9];
      if (std::fabs(d) > 1e-6) ++compared;
    }
  }
  EXPECT_GE(compared, 16); // most depend on every parameter
}

} // namespace
