// Decks built in code: fixed-column fields, the records of the main input,
// and whole decks of both run types with every option, section by section
// (a test that needs a faulty record replaces one record of a section). The
// tests and the benchmarks build every deck they run through these.
//
// Needs the standard library only (no test framework, no model code).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmrtest {

// ---------------------------------------------------------------------------
// Fields

// The text right-justified in w columns (cut to w when longer).
std::string col(const std::string &v, int w);
std::string col(long v, int w);
// An integer in an I5 field.
std::string i5(long v);
// A value in a w-column real field (F10.0 and the like) with as many
// significant digits as fit; throws when even one digit does not fit.
std::string fx(double v, int w = 10);
// Texts right-justified in w-column fields, one after the other.
std::string fields(const std::vector<std::string> &texts, int w = 10);
// A value in an E15.7 field, as the program writes its restart and
// velocity files.
std::string e15(double v);

// Lines of a text, without their line ends (a last line without end too).
std::vector<std::string> lines(const std::string &text);
// The lines joined, each ended by a line feed.
std::string joined(const std::vector<std::string> &ls);
// The text with line k (0-based) replaced.
std::string withLine(const std::string &text, std::size_t k,
                     const std::string &line);
// n copies of a text.
std::string times(const std::string &t, int n);
// How many times `what` occurs in the text (overlapping occurrences too).
int count(const std::string &text, const std::string &what);

// A deck built line by line: deck << "line" adds one record.
struct Deck {
  std::string text;
  Deck &operator<<(const std::string &line) {
    text += line;
    text += '\n';
    return *this;
  }
};

// ---------------------------------------------------------------------------
// Records

// The eight counts of the counts record.
struct Counts {
  int ne = 1, nts = 1, nmat = 1, nbt = 0, ndf = 0, nonu = 0, nobs = 0,
      ntprof = 0;
};
std::string record(const Counts &c);

// The eleven option codes. The defaults: a graded (here uniform) mesh,
// planar, every step printed, centred steps from the second one on, no
// restart or velocity file, generated time steps, confined, transient, one
// zone per medium.
struct Codes {
  int imshgn = 1, iaxsym = 0, istep = 1, ikall = 0, ioread = 0, iowrit = 0,
      iodarc = 0, itsgn = 1, i2dwt = 0, isstat = 0, ipcode = 1;
};
std::string record(const Codes &c);

// One flow medium: conductivity, specific storage, storage coefficient,
// thickness (or base elevation with the water-table option), recharge,
// leakage coefficient, fixed head beyond the aquitard, width, maximum
// leakage rate.
struct FlowMedium {
  double k = 1.0, ss = 0.0, sc = 0.0, bott = 1.0, rech = 0.0, leak = 0.0,
         hfix = 0.0, width = 1.0, qmax = 0.0;
};
std::string record(const FlowMedium &m);

// One transport medium: dispersivity, diffusion, porosity, retardation,
// decay, recharge and aquitard concentrations, width.
struct TransportMedium {
  double alfal = 0.0, difus = 0.0, poros = 1.0, retar = 1.0, decay = 0.0,
         crech = 0.0, cleak = 0.0, width = 1.0;
};
std::string record(const TransportMedium &m);

// A prescribed value or flow flux record "(2I5,F10.0)".
std::string nodeValue(int node, double v, int dof = 1);

// A transport flux record "(2I5,2F10.0)": flux of concentration, fluid flux.
struct TransportFlux {
  int node = 1;
  double qc = 0.0, qw = 0.0;
};
std::string record(const TransportFlux &f);

// A non-uniform initial value record "(I5,F10.0)".
std::string initialValue(int node, double v);

// A record of a restart file "(I5,2E15.7)" and of a velocity file
// "(I5,4E15.7)", for auxiliary files written before a run.
std::string restartRecord(int node, double x, double value);
std::string velocityRecord(int ie, double darcy, double thick, double leak,
                           double rech);

// ---------------------------------------------------------------------------
// Whole decks

// The sections of the main input, in their order.
enum class Section {
  Job,
  Counts,
  Codes,
  RestartIn,
  RestartOut,
  Velocity,
  Mesh,
  Media,
  Times,
  Values,
  Fluxes,
  Initial,
  Criteria,
  DefaultVelocity,
  Observations,
  Profiles,
  End
};

// What both run types share. The counts follow from the lists (unless
// `counts` is set); a file name switches its code on when the code is 0
// (ioread and iowrit to 1, iodarc to 1).
struct RunDeck {
  std::string variant = " OW"; // columns 2-4 of the first record; a flux
                               // file name in `flux` drops " OW"
  std::string listing = "run.lst", graphic = "run.grf", flux;
  std::string title = "test deck";
  Codes codes;
  std::optional<Counts> counts; // as written instead of the derived ones
  std::string restartIn, restartOut, velocity;

  // Mesh: ne elements; graded (imshgn 1, 2) from x1 to xn with the grading
  // factor, logarithmic (3) from x1 to xn, otherwise the coordinates typed
  // (ne + 1 of them, eight a record).
  int ne = 10;
  double x1 = 0.0, xn = 100.0, grading = 1.0;
  std::vector<double> coords;

  // Media: with ipcode 0 one medium number per element (all 1 when empty);
  // otherwise one zone start (ipcode 1) or control node (ipcode 2) per
  // medium (evenly spread when empty).
  std::vector<int> elementMedia, zones;

  // Time steps (none typed in a steady run): generated (itsgn not 0) from
  // tima by delta1, logarithmic with ntslog a cycle; or typed (itsgn 0):
  // tima, then the nts totals in `totals`.
  int nts = 1;
  double tima = 0.0, delta1 = 1.0;
  int ntslog = 0;
  std::vector<double> totals;

  std::vector<std::pair<int, double>> values; // prescribed values
  double initial = 0.0;                       // unless read from a restart
  std::vector<std::pair<int, double>> nonuniform;
  int nitmax = 1; // iteration criteria, written with i2dwt = 1
  double toler = 0.0, relax = 1.0;
  std::vector<int> observations, profiles;

  // The index (0-based line) of record k of a section of the text.
  std::size_t line(Section s, std::size_t k = 0) const;
  // The text with record k of a section replaced.
  std::string with(Section s, std::size_t k, const std::string &rec) const;

  virtual ~RunDeck() = default;
  virtual std::string text() const = 0;

  // The first line of every section (and of the end).
  using Starts =
      std::array<std::size_t, static_cast<std::size_t>(Section::End) + 1>;

protected:
  virtual std::string build(Starts *at) const = 0;
  // The sections up to the mesh, and the media assignment.
  void head(Deck &d, Starts *at, char type, int nmat, int ndf) const;
  void assignment(Deck &d, int nmat) const;
  // Time steps, prescribed values (the section starts of both).
  void timesAndValues(Deck &d, Starts *at) const;
  void initialAndCriteria(Deck &d, Starts *at) const;
  void observationsAndProfiles(Deck &d, Starts *at) const;
  Codes effectiveCodes() const;
};

// A flow run.
struct FlowDeck : RunDeck {
  std::vector<FlowMedium> media{FlowMedium{}};
  std::vector<std::pair<int, double>> fluxes;
  std::string text() const override;

protected:
  std::string build(Starts *at) const override;
};

// A transport run; with iodarc 0 or less the default Darcy velocity (per
// unit width) and thickness follow the initial values.
struct TransportDeck : RunDeck {
  std::vector<TransportMedium> media{TransportMedium{}};
  std::vector<TransportFlux> fluxes;
  double darcy = 0.0, thick = 1.0;
  std::string text() const override;

protected:
  std::string build(Starts *at) const override;
};

} // namespace qmrtest
