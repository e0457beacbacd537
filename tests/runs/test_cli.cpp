// The command line: the deck argument, -C, --quiet, --check, --csv,
// --no-listing, --print-every, --help, --version and the usage errors, on whole
// runs of the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_args.hpp"
#include "support.hpp"
#include "verify/verify_util.hpp"

namespace {

using namespace qmrverify;
using namespace qmrtest;
using qmrtest::Deck;
using qmrtest::filesIn;
using qmrtest::runArgs;
namespace fs = std::filesystem;

// A transient confined flow run of 10 elements and 6 steps with a flux file,
// a restart file and a velocity file written at every step, two fixed heads
// and recharge; the names of its outputs can be changed.
struct Flow {
  std::string listing = "FLOW.LST", graphic = "FLOW.GRF", flux = "FLOW.FLX";
  int istep = 1;
  std::string deck() const {
    Deck d;
    d << "F  " << listing << graphic << flux << "command line test";
    d << record(Counts{10, 6, 1, 2, 0, 0, 2, 2});
    Codes c;
    c.istep = istep;
    c.iowrit = 1;
    c.iodarc = 2;
    d << record(c);
    d << "FLOW.RST"
      << "restart file"
      << "FLOW.VEL"
      << "velocity file";
    d << fx(0.0) + fx(100.0) + fx(1.0);
    d << i5(1);
    FlowMedium m;
    m.k = 5.0;
    m.sc = 0.1;
    m.bott = 10.0;
    m.rech = 0.001;
    d << record(m);
    d << fx(0.0) + fx(2.0) + i5(0);
    d << nodeValue(1, 10.0) << nodeValue(11, 8.0);
    d << fx(9.0);
    d << i5(3) << i5(8);
    d << i5(2) << i5(6);
    return d.text;
  }
};

// A transport run of 10 elements and 6 steps from a default velocity.
std::string transportDeck(int iodarc = 0) {
  Deck d;
  jobRecords(d, "T", "TRANS.LST", "TRANS.GRF");
  d << record(Counts{10, 6, 1, 1, 0, 0, 1, 1});
  Codes c;
  c.iodarc = iodarc;
  d << record(c);
  if (iodarc > 0)
    d << "FLOW.VEL"
      << "velocity file of the flow run";
  d << fx(0.0) + fx(100.0) + fx(1.0);
  d << i5(1);
  d << record(TransportMedium{5.0, 0.0, 0.3, 1.0, 0.0, 0.0, 0.0, 1.0});
  d << fx(0.0) + fx(2.0) + i5(0);
  d << nodeValue(1, 1.0);
  d << fx(0.0);
  if (iodarc <= 0) d << fx(0.5) + fx(10.0);
  d << i5(4);
  d << i5(6);
  return d.text;
}

struct Folder {
  Scratch dir;
  explicit Folder(const std::string &tag) : dir(tag) {}
  fs::path path() const { return dir.path(); }
  void put(const std::string &name, const std::string &text) const {
    qmrtest::writeFile(dir.path() / name, text);
  }
};

const std::vector<std::string> kFlowOutputs = {
    "FLOW.FLX", "FLOW.GRF", "FLOW.LST", "FLOW.RST", "FLOW.VEL"};

TEST(CommandLine, HelpAndVersionRunNothing) {
  Folder f("cli-help");
  f.put("VELDA.INP", Flow{}.deck());
  auto r = runArgs(f.path(), "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: qmr [options] [DECK]\n", 0), 0u) << r.out;
  for (const char *opt : {"-C DIR", "--quiet", "--check", "--csv",
                          "--print-every N", "--help", "--version"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  EXPECT_EQ(r.err, "");
  r = runArgs(f.path(), "--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "qmr 10.0\n");
  // An option after --help is not looked at; nothing was run.
  r = runArgs(f.path(), "--help --bogus");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(filesIn(f.path()), std::vector<std::string>{"VELDA.INP"});
}

TEST(CommandLine, UsageErrorsExit64WithoutRunning) {
  Folder f("cli-usage");
  f.put("VELDA.INP", Flow{}.deck());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--bogus", "unknown option \"--bogus\""},
      {"-x", "unknown option \"-x\""},
      {"--print-every", "--print-every needs a number of steps"},
      {"--print-every 0", "not \"0\""},
      {"--print-every=-3", "not \"-3\""},
      {"--print-every 2x", "not \"2x\""},
      {"--print-every ''", "not \"\""},
      {"--print-every 99999999999", "not \"99999999999\""},
      {"-C", "-C needs a folder"},
      {"a.inp b.inp", "more than one deck: \"a.inp\" and \"b.inp\""},
      {"''", "the deck name is empty"},
      {"--quiet --csv --check --version=1", "unknown option"},
  };
  for (const auto &[args, says] : cases) {
    const auto r = runArgs(f.path(), args);
    EXPECT_EQ(r.status, 64) << args;
    EXPECT_EQ(r.err.rfind("qmr: ", 0), 0u) << args << ": " << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << args << ": " << r.err;
    EXPECT_NE(r.err.find("usage: qmr [options] [DECK]"), std::string::npos);
    EXPECT_EQ(r.out, "") << args;
  }
  EXPECT_EQ(filesIn(f.path()), std::vector<std::string>{"VELDA.INP"});
}

TEST(CommandLine, DeckArgumentAndFolderGiveTheSameOutputs) {
  // The legacy way: VELDA.INP in the working folder, no arguments.
  Folder legacy("cli-legacy");
  legacy.put("VELDA.INP", Flow{}.deck());
  const auto ref = runArgs(legacy.path(), "");
  ASSERT_EQ(ref.status, 0) << ref.err;

  // The deck under another name, named on the command line; and the same
  // from the parent folder with -C (also in its joined form, and with --
  // before a deck whose name starts with a dash).
  Folder named("cli-named");
  named.put("run one.inp", Flow{}.deck());
  named.put("-odd.inp", Flow{}.deck());
  const std::string sub = named.path().filename().string();
  for (const std::string &args : std::vector<std::string>{
           "'run one.inp'", "-C '../" + sub + "' 'run one.inp'",
           "'-C../" + sub + "' -- -odd.inp"}) {
    const auto r = runArgs(named.path(), args);
    ASSERT_EQ(r.status, 0) << args << r.err;
    EXPECT_EQ(r.out, ref.out) << args;
    for (const auto &name : kFlowOutputs)
      EXPECT_EQ(r.file(name), ref.file(name)) << args << ": " << name;
  }
  EXPECT_FALSE(fs::exists(named.path() / "VELDA.INP"));
}

TEST(CommandLine, MissingDeckOrFolder) {
  Folder f("cli-missing");
  auto r = runArgs(f.path(), "nothere.inp");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot open the main input \"nothere.inp\""),
            std::string::npos)
      << r.err;
  r = runArgs(f.path(), "-C nowhere");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot change to the folder \"nowhere\""),
            std::string::npos)
      << r.err;
  r = runArgs(f.path(), "--check -C nowhere");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(filesIn(f.path()).empty());
}

TEST(CommandLine, QuietShowsNoBannerAndChangesNoOutput) {
  Folder a("cli-loud"), b("cli-quiet");
  a.put("VELDA.INP", Flow{}.deck());
  b.put("VELDA.INP", Flow{}.deck());
  const auto loud = runArgs(a.path(), "");
  const auto quiet = runArgs(b.path(), "--quiet");
  ASSERT_EQ(loud.status, 0);
  ASSERT_EQ(quiet.status, 0);
  EXPECT_NE(loud.out.find("Q M R"), std::string::npos);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  for (const auto &name : kFlowOutputs)
    EXPECT_EQ(quiet.file(name), loud.file(name)) << name;

  // A failure is still told: on standard error, and on the console when
  // the listing is not open yet.
  b.put("VELDA.INP", "X\n");
  const auto bad = runArgs(b.path(), "--quiet");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, " ****ERROR OR END OF FILE ON MAIN INPUT****\n");
  EXPECT_NE(bad.err.find("qmr: "), std::string::npos);
}

TEST(CommandLine, CheckWritesNoFileAndTellsWhetherTheDeckWouldRun) {
  // A flow run that would write every kind of file: nothing is made.
  Folder f("cli-check");
  f.put("deck.inp", Flow{}.deck());
  auto r = runArgs(f.path(), "--check --csv deck.inp");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(filesIn(f.path()), std::vector<std::string>{"deck.inp"});

  // A fault of the deck: the first failure, status 1, still no file.
  std::string bad = Flow{}.deck();
  bad.replace(bad.find("   11    1"), 10, "   12    1"); // node beyond mesh
  f.put("bad.inp", bad);
  r = runArgs(f.path(), "--check bad.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("qmr: "), std::string::npos);
  EXPECT_EQ(qmrtest::lines(r.err).size(), 1u) << r.err;
  // The run itself fails the same way.
  Folder g("cli-check-run");
  g.put("bad.inp", bad);
  const auto run = runArgs(g.path(), "--quiet bad.inp");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, r.err);

  // Outputs of one name, and an output that is the deck: refused.
  Flow same;
  same.graphic = "FLOW.LST";
  f.put("same.inp", same.deck());
  r = runArgs(f.path(), "--check same.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it is the same file as the listing"), std::string::npos)
      << r.err;
  Flow self;
  self.listing = "self.inp";
  f.put("self.inp", self.deck());
  r = runArgs(f.path(), "--check self.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it is the same file as the main input"),
            std::string::npos)
      << r.err;
  // An output in a folder that does not exist.
  Flow lost;
  lost.graphic = "nowhere/FLOW.GRF";
  f.put("lost.inp", lost.deck());
  r = runArgs(f.path(), "--check lost.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "qmr: cannot open the graphic file \"nowhere/FLOW.GRF\": "
                   "No such file or directory\n");
  // A missing deck.
  r = runArgs(f.path(), "--check none.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(filesIn(f.path()),
            (std::vector<std::string>{"bad.inp", "deck.inp", "lost.inp",
                                      "same.inp", "self.inp"}));
}

TEST(CommandLine, CheckReadsTheVelocityFileOfEveryStep) {
  Folder f("cli-check-vel");
  f.put("flow.inp", Flow{}.deck());
  f.put("trans.inp", transportDeck(2));
  // The velocity file is missing: the transport run would fail on it, and
  // the check neither creates it nor any other file.
  auto r = runArgs(f.path(), "--check trans.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("FLOW.VEL: the file does not exist"), std::string::npos)
      << r.err;
  EXPECT_EQ(filesIn(f.path()),
            (std::vector<std::string>{"flow.inp", "trans.inp"}));

  // With the flow run's file of six blocks: fine, and the file is unchanged.
  ASSERT_EQ(runArgs(f.path(), "--quiet flow.inp").status, 0);
  const std::string vel = qmrtest::readFile(f.path() / "FLOW.VEL");
  r = runArgs(f.path(), "--check trans.inp");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(f.path() / "TRANS.LST"));

  // Five blocks for six steps: the last step would fail.
  const auto ls = qmrtest::lines(vel);
  ASSERT_EQ(ls.size(), 60u);
  std::string five;
  for (std::size_t i = 0; i < 50; ++i) five += ls[i] + "\n";
  f.put("FLOW.VEL", five);
  r = runArgs(f.path(), "--check trans.inp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("FLOW.VEL: end of file after record 50"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(qmrtest::readFile(f.path() / "FLOW.VEL"), five);
  EXPECT_FALSE(fs::exists(f.path() / "TRANS.LST"));
}

TEST(CommandLine, CheckOfAMissingRestartFileMakesNone) {
  Folder f("cli-check-rst");
  std::string deck = transportDeck();
  // Restart-read code 1: the initial values come from RST.IN.
  Codes c;
  c.ioread = 1;
  const std::string codes = record(Codes{});
  deck.replace(deck.find(codes), codes.size(), record(c) + "\nRST.IN\nnote");
  deck.replace(deck.find(fx(0.0) + "\n" + fx(0.5)), 11, "");
  f.put("VELDA.INP", deck);
  const auto r = runArgs(f.path(), "--check");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(filesIn(f.path()), std::vector<std::string>{"VELDA.INP"});
  // The run fails on the (then empty) restart file with the same report.
  Folder g("cli-run-rst");
  g.put("VELDA.INP", deck);
  const auto run = runArgs(g.path(), "--quiet");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.file("TRANS.LST").find("RESTART FILE"), std::string::npos);
  EXPECT_EQ(r.err, run.err);
  EXPECT_FALSE(r.err.empty());
}

TEST(CommandLine, PrintEveryTakesThePlaceOfTheDecksInterval) {
  // A deck printing every 2nd step, run with --print-every 1, gives the
  // listing of the deck printing every step, but for the echo of the code.
  Folder a("cli-every1"), b("cli-every2");
  Flow every1, every2;
  every2.istep = 2;
  a.put("VELDA.INP", every1.deck());
  b.put("VELDA.INP", every2.deck());
  const auto ra = runArgs(a.path(), "");
  const auto rb = runArgs(b.path(), "--print-every 1");
  ASSERT_EQ(ra.status, 0);
  ASSERT_EQ(rb.status, 0);
  auto la = qmrtest::lines(ra.file("FLOW.LST"));
  auto lb = qmrtest::lines(rb.file("FLOW.LST"));
  ASSERT_EQ(la.size(), lb.size());
  int differ = 0;
  for (std::size_t i = 0; i < la.size(); ++i) {
    if (la[i] == lb[i]) continue;
    ++differ;
    EXPECT_NE(la[i].find("CODE FOR PRINTOUT DATA"), std::string::npos);
  }
  EXPECT_EQ(differ, 1);
  for (const auto &name : {"FLOW.GRF", "FLOW.FLX", "FLOW.VEL", "FLOW.RST"})
    EXPECT_EQ(rb.file(name), ra.file(name)) << name;

  // Every 4th of 6 steps: the reports of step 4 only.
  const auto r4 = runArgs(b.path(), "--print-every=4");
  const auto lst = r4.file("FLOW.LST");
  EXPECT_EQ(count(lst, "MASS BALANCE COMPUTATION"), 1);
  EXPECT_EQ(count(lst, "E-COORD   HYDRAULIC HEAD"), 1);
  EXPECT_EQ(count(lst, "COMPLETED *****"), 12);
  EXPECT_EQ(r4.file("FLOW.GRF"), ra.file("FLOW.GRF"));
}

TEST(CommandLine, PrintEveryThinsTheTransportListing) {
  Folder a("cli-tall"), b("cli-tthin");
  a.put("VELDA.INP", transportDeck());
  b.put("VELDA.INP", transportDeck());
  const auto all = runArgs(a.path(), "");
  const auto thin = runArgs(b.path(), "--print-every 3");
  ASSERT_EQ(all.status, 0);
  ASSERT_EQ(thin.status, 0);
  const auto la = all.file("TRANS.LST"), lb = thin.file("TRANS.LST");
  EXPECT_EQ(count(la, "SOLUTION VECTOR"), 6);
  EXPECT_EQ(count(lb, "SOLUTION VECTOR"), 2);
  EXPECT_EQ(count(la, "***** ITERATION"), 6);
  EXPECT_EQ(count(lb, "***** ITERATION"), 2);
  EXPECT_EQ(count(lb, "TIME STEP NUMBER"), 6);
  EXPECT_EQ(count(lb, "COMPLETED *****"), 12);
  EXPECT_EQ(thin.file("TRANS.GRF"), all.file("TRANS.GRF"));
  // The tables printed are the same tables.
  const auto ta = nodalTables(la), tb = nodalTables(lb);
  ASSERT_EQ(ta.size(), 6u);
  ASSERT_EQ(tb.size(), 2u);
  EXPECT_EQ(tb[0].h, ta[2].h);
  EXPECT_EQ(tb[1].h, ta[5].h);
}

TEST(CommandLine, CsvAndQuietLeaveEveryLegacyOutputAsItWas) {
  // A flow run writing every kind of file, then a transport run reading its
  // velocity file: run plainly and with --csv --quiet, in two folders.
  Folder plain("cli-plain"), csv("cli-csv");
  for (const Folder *f : {&plain, &csv}) {
    f->put("flow.inp", Flow{}.deck());
    f->put("trans.inp", transportDeck(2));
  }
  for (const char *deck : {"flow.inp", "trans.inp"}) {
    const auto a = runArgs(plain.path(), deck);
    const auto b = runArgs(csv.path(), std::string("--csv --quiet ") + deck);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err, a.err);
  }
  std::vector<std::string> legacy;
  for (const auto &name : filesIn(plain.path())) {
    legacy.push_back(name);
    EXPECT_EQ(qmrtest::readFile(csv.path() / name),
              qmrtest::readFile(plain.path() / name))
        << name;
  }
  EXPECT_EQ(legacy.size(), 9u); // two decks and seven outputs
  EXPECT_EQ(filesIn(csv.path()).size(), legacy.size() + 8);
}

TEST(CommandLine, CsvFilesAreNamedAfterTheGraphicFile) {
  Folder f("cli-csvname");
  Flow flow;
  flow.graphic = "out/G";
  fs::create_directories(f.path() / "out");
  f.put("VELDA.INP", flow.deck());
  auto r = runArgs(f.path(), "--csv --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(filesIn(f.path() / "out"),
            (std::vector<std::string>{"G", "G.balance.csv", "G.flux.csv",
                                      "G.obs.csv", "G.prof.csv"}));
  // Without --csv no CSV file is written.
  Folder g("cli-nocsv");
  g.put("VELDA.INP", Flow{}.deck());
  r = runArgs(g.path(), "");
  ASSERT_EQ(r.status, 0);
  for (const auto &name : filesIn(g.path()))
    EXPECT_EQ(name.find(".csv"), std::string::npos) << name;
  // A CSV file that would be the deck itself is refused.
  Folder h("cli-csvdeck");
  Flow clash;
  clash.graphic = "X.GRF";
  h.put("X.obs.csv", clash.deck());
  r = runArgs(h.path(), "--check --csv X.obs.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(filesIn(h.path()), std::vector<std::string>{"X.obs.csv"});
  r = runArgs(h.path(), "--csv X.obs.csv");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("it is the same file as the main input"),
            std::string::npos)
      << r.err;
}

// --no-listing: no listing is written (a file of its name keeps its old
// content), every other output keeps its bytes, and trouble that only the
// listing would tell goes to standard error.
TEST(CommandLine, NoListingLeavesTheListingAloneAndTellsTroubleOnStderr) {
  Folder plain("cli-listing"), none("cli-nolisting");
  for (const Folder *f : {&plain, &none}) {
    f->put("flow.inp", Flow{}.deck());
    f->put("trans.inp", transportDeck(2));
  }
  none.put("FLOW.LST", "an older listing\n");
  for (const char *deck : {"flow.inp", "trans.inp"}) {
    const auto a = runArgs(plain.path(), deck);
    const auto b = runArgs(none.path(), std::string("--no-listing ") + deck);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.out, a.out);
  }
  EXPECT_EQ(qmrtest::readFile(none.path() / "FLOW.LST"), "an older listing\n");
  EXPECT_FALSE(fs::exists(none.path() / "TRANS.LST"));
  for (const auto &name : filesIn(plain.path())) {
    if (name == "FLOW.LST" || name == "TRANS.LST") continue;
    EXPECT_EQ(qmrtest::readFile(none.path() / name),
              qmrtest::readFile(plain.path() / name))
        << name;
  }

  // A water-table run whose heads start below the base of the aquifer: the
  // element goes dry on every iteration of the first step (the listing
  // says so), and with one iteration allowed the non-linear step does not
  // converge.
  FlowDeck dry;
  dry.ne = 1;
  dry.nts = 1;
  dry.codes.i2dwt = 1;
  dry.media = {{1.0, 0.0, 0.1, 10.0, 0.001, 0.0, 0.0, 1.0, 0.0}};
  dry.initial = 5.0;
  dry.nitmax = 1;
  dry.toler = 1e-12;
  Folder w("cli-nolisting-dry");
  w.put("VELDA.INP", dry.text());
  const auto withListing = runArgs(w.path(), "--quiet");
  EXPECT_EQ(withListing.status, 1);
  const std::string lst = qmrtest::readFile(w.path() / "run.lst");
  EXPECT_EQ(count(lst, "ELEMENT NO.   1 HAS GONE DRY"), 1);
  EXPECT_EQ(count(lst, "SOLUTION NOT CONVERGED"), 1);
  EXPECT_EQ(withListing.err.find("gone dry"), std::string::npos);

  fs::remove(w.path() / "run.lst");
  const auto without = runArgs(w.path(), "--quiet --no-listing");
  EXPECT_EQ(without.status, 1);
  EXPECT_FALSE(fs::exists(w.path() / "run.lst"));
  EXPECT_EQ(count(without.err,
                  "qmr: time step 1: element 1 has gone dry (its saturated "
                  "thickness is taken as 1.0E-4)\n"),
            1)
      << without.err;
  EXPECT_NE(without.err.find("SOLUTION NOT CONVERGED"), std::string::npos)
      << without.err;
  EXPECT_EQ(without.out, "");
}

} // namespace
