// Every count of the counts record exactly at its legacy capacity in one run,
// which must run to its end and fill every table, and each count beyond its
// limit, which is refused.
#include <gtest/gtest.h>

#include <string>

#include "stop/stop.hpp"
#include "support.hpp"

namespace {

using qmrtest::Counts;
using qmrtest::FlowDeck;

// 300 elements of 10, 101 steps of 1, 10 media (zones of 30 elements), 10
// prescribed heads, 301 prescribed fluxes (one per node), 20 observation
// nodes, 20 profiles. Every head starts at 5, every prescribed head is 5 and
// every flux 0: the heads stay 5 everywhere, at every step, whatever the
// media.
FlowDeck atCapacity() {
  FlowDeck f;
  f.flux = "run.flx";
  f.ne = 300;
  f.xn = 3000.0;
  f.nts = 101;
  f.codes.istep = 101; // the nodal table of the last step only
  f.media.clear();
  for (int m = 1; m <= 10; ++m) {
    f.media.push_back({1.0 * m, 1e-4, 0.1, 10.0 + m});
    f.zones.push_back(1 + 30 * (m - 1));
  }
  for (int k = 0; k < 10; ++k) f.values.emplace_back(1 + 30 * k, 5.0);
  for (int ip = 1; ip <= 301; ++ip) f.fluxes.emplace_back(ip, 0.0);
  f.initial = 5.0;
  for (int k = 0; k < 20; ++k) f.observations.push_back(1 + 15 * k);
  for (int k = 1; k <= 20; ++k) f.profiles.push_back(5 * k);
  return f;
}

} // namespace

TEST(Capacities, EveryCountAtItsCapacityRuns) {
  const auto r = qmrtest::runDeck("capacity", atCapacity().text());
  ASSERT_EQ(r.status, qmr::kExitNormal) << r.err;
  const std::string lst = r.file("run.lst");
  for (const char *echo :
       {" NUMBER OF ELEMENTS                               = 300",
        " NUMBER OF TIMESTEPS                              = 101",
        " NUMBER OF DIFFERENT MATERIAL LAYERS              =  10",
        " NUMBER OF PRESCRIBED VALUE NODES                 =  10",
        " NUMBER OF PRESCRIBED FLUX NODES                  = 301",
        " NUMBER OF OBSERVATION NODES                      =  20",
        " NUMBER OF PROFILE PLOTS                          =  20",
        "***** TIME STEP101 OF101 COMPLETED *****"})
    EXPECT_NE(lst.find(echo), std::string::npos) << echo;

  // The last step's heads: 5 at all 301 nodes.
  const auto t = qmrtest::nodalTables(lst);
  ASSERT_EQ(t.size(), 1u);
  ASSERT_EQ(t[0].h.size(), 301u);
  for (double h : t[0].h) EXPECT_EQ(h, 5.0);

  // 101 observation rows of 20 nodes, 20 profiles of 301 nodes.
  const auto g = qmrtest::readGraphic(r.file("run.grf"));
  ASSERT_EQ(g.obsNodes.size(), 20u);
  ASSERT_EQ(g.profSteps.size(), 20u);
  EXPECT_EQ(g.profSteps.back(), 100);
  ASSERT_EQ(g.obs.size(), 101u);
  for (const auto &row : g.obs) {
    ASSERT_EQ(row.v.size(), 22u);
    for (std::size_t j = 2; j < row.v.size(); ++j) EXPECT_EQ(row.v[j], 5.0);
  }
  EXPECT_EQ(g.obs.back().n, 101);
  EXPECT_EQ(g.obs.back().v[0], 101.0);
  ASSERT_EQ(g.prof.size(), 301u);
  for (const auto &row : g.prof) {
    ASSERT_EQ(row.v.size(), 22u);
    for (std::size_t k = 2; k < row.v.size(); ++k) EXPECT_EQ(row.v[k], 5.0);
  }

  // The flux file: 101 rows of the rates of the 10 prescribed heads, then,
  // at the end of the run, 101 rows of their accumulated fluxes; every one
  // 0 but for the round-off of the reactions.
  int rows = 0;
  for (const auto &line : qmrtest::lines(r.file("run.flx"))) {
    qmrtest::Row row;
    if (!qmrtest::parseRow(line, row)) continue;
    ++rows;
    ASSERT_EQ(row.v.size(), 12u) << line;
    for (std::size_t j = 2; j < row.v.size(); ++j)
      EXPECT_NEAR(row.v[j], 0.0, 1e-10);
  }
  EXPECT_EQ(rows, 2 * 101);
}

// The legacy capacities are no limits any more; the limits are what the
// fields can name: 99,998 elements (node numbers stand in five columns) and
// 40 prescribed values, observation nodes and profiles (one row of the
// graphic and flux files holds 40 values).
TEST(Capacities, EachCountBeyondItsLimitIsRefused) {
  const Counts full{300, 101, 10, 10, 301, 0, 20, 20};
  struct Case {
    int Counts::*count;
    int value;
    std::string why;
  };
  const Case cases[] = {
      {&Counts::ne, 99999,
       "columns 1-5: number of elements 99999 is beyond the limit of 99998"},
      {&Counts::nbt, 41,
       "columns 16-20: number of prescribed value nodes 41 is beyond the "
       "limit of 40"},
      {&Counts::nobs, 41,
       "columns 31-35: number of observation nodes 41 is beyond the limit of "
       "40"},
      {&Counts::ntprof, 41,
       "columns 36-40: number of profile plots 41 is beyond the limit of 40"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    FlowDeck f = atCapacity();
    Counts n = full;
    n.*c.count = c.value;
    f.counts = n;
    const auto r = qmrtest::runDeck("beyond", f.text());
    EXPECT_EQ(r.status, qmr::kExitFailure);
    EXPECT_EQ(r.err, "qmr: VELDA.INP, record 6, " + c.why + "\n");
    const auto ls = qmrtest::lines(r.file("run.lst"));
    ASSERT_FALSE(ls.empty());
    EXPECT_EQ(ls.back(), " ****ERROR OR END OF FILE ON MAIN INPUT****");
  }
}
