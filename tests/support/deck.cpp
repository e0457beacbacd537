#include "deck.hpp"

#include <cstdio>
#include <stdexcept>

namespace qmrtest {

std::string col(const std::string &v, int w) {
  if (static_cast<int>(v.size()) >= w) return v.substr(0, w);
  return std::string(w - v.size(), ' ') + v;
}
std::string col(long v, int w) { return col(std::to_string(v), w); }

std::string i5(long v) { return col(v, 5); }

std::string fx(double v, int w) {
  char buf[64];
  for (int prec = 9; prec >= 1; --prec) {
    std::snprintf(buf, sizeof buf, "%.*G", prec, v);
    if (static_cast<int>(std::string(buf).size()) <= w)
      return col(std::string(buf), w);
  }
  throw std::runtime_error("value does not fit its field");
}

std::string fields(const std::vector<std::string> &texts, int w) {
  std::string r;
  for (const auto &t : texts) r += col(t, w);
  return r;
}

std::string e15(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%15.7E", v);
  return buf;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::string joined(const std::vector<std::string> &ls) {
  std::string out;
  for (const auto &l : ls) out += l + "\n";
  return out;
}

std::string withLine(const std::string &text, std::size_t k,
                     const std::string &line) {
  auto ls = lines(text);
  ls.at(k) = line;
  return joined(ls);
}

std::string times(const std::string &t, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += t;
  return r;
}

int count(const std::string &text, const std::string &what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++n;
  return n;
}

std::string record(const Counts &c) {
  return i5(c.ne) + i5(c.nts) + i5(c.nmat) + i5(c.nbt) + i5(c.ndf) +
         i5(c.nonu) + i5(c.nobs) + i5(c.ntprof);
}

std::string record(const Codes &c) {
  return i5(c.imshgn) + i5(c.iaxsym) + i5(c.istep) + i5(c.ikall) +
         i5(c.ioread) + i5(c.iowrit) + i5(c.iodarc) + i5(c.itsgn) +
         i5(c.i2dwt) + i5(c.isstat) + i5(c.ipcode);
}

std::string record(const FlowMedium &m) {
  return fx(m.k) + fx(m.ss) + fx(m.sc) + fx(m.bott) + fx(m.rech) + fx(m.leak) +
         fx(m.hfix) + fx(m.width) + fx(m.qmax);
}

std::string record(const TransportMedium &m) {
  return fx(m.alfal) + fx(m.difus) + fx(m.poros) + fx(m.retar) + fx(m.decay) +
         fx(m.crech) + fx(m.cleak) + fx(m.width);
}

std::string nodeValue(int node, double v, int dof) {
  return i5(node) + i5(dof) + fx(v);
}

std::string record(const TransportFlux &f) {
  return i5(f.node) + i5(1) + fx(f.qc) + fx(f.qw);
}

std::string initialValue(int node, double v) { return i5(node) + fx(v); }

std::string restartRecord(int node, double x, double value) {
  return i5(node) + e15(x) + e15(value);
}

std::string velocityRecord(int ie, double darcy, double thick, double leak,
                           double rech) {
  return i5(ie) + e15(darcy) + e15(thick) + e15(leak) + e15(rech);
}

// ---------------------------------------------------------------------------

namespace {
void mark(RunDeck::Starts *at, Section s, const Deck &d) {
  if (at == nullptr) return;
  std::size_t n = 0;
  for (char c : d.text)
    if (c == '\n') ++n;
  (*at)[static_cast<std::size_t>(s)] = n;
}

// Values eight to a record, in ten-column fields.
void eightPerRecord(Deck &d, const std::vector<double> &v) {
  std::string rec;
  for (std::size_t i = 0; i < v.size(); ++i) {
    rec += fx(v[i]);
    if (i % 8 == 7 || i + 1 == v.size()) {
      d << rec;
      rec.clear();
    }
  }
}
} // namespace

Codes RunDeck::effectiveCodes() const {
  Codes c = codes;
  if (!restartIn.empty() && c.ioread == 0) c.ioread = 1;
  if (!restartOut.empty() && c.iowrit == 0) c.iowrit = 1;
  if (!velocity.empty() && c.iodarc == 0) c.iodarc = 1;
  return c;
}

void RunDeck::head(Deck &d, Starts *at, char type, int nmat, int ndf) const {
  const Codes c = effectiveCodes();
  mark(at, Section::Job, d);
  const bool withFlux = !flux.empty();
  d << std::string(1, type) + (withFlux && variant == " OW" ? "" : variant);
  d << listing << graphic;
  if (withFlux) d << flux;
  d << title;
  mark(at, Section::Counts, d);
  Counts n;
  n.ne = ne;
  n.nts = nts;
  n.nmat = nmat;
  n.nbt = static_cast<int>(values.size());
  n.ndf = ndf;
  n.nonu = static_cast<int>(nonuniform.size());
  n.nobs = static_cast<int>(observations.size());
  n.ntprof = static_cast<int>(profiles.size());
  d << record(counts ? *counts : n);
  mark(at, Section::Codes, d);
  d << record(c);
  mark(at, Section::RestartIn, d);
  if (c.ioread == 1) d << restartIn << "restart file to read";
  mark(at, Section::RestartOut, d);
  if (c.iowrit == 1) d << restartOut << "restart file to write";
  mark(at, Section::Velocity, d);
  if (c.iodarc > 0) d << velocity << "velocity file";
  mark(at, Section::Mesh, d);
  if (c.imshgn >= 1 && c.imshgn <= 2) {
    d << fx(x1) + fx(xn) + fx(grading);
  } else if (c.imshgn == 3) {
    d << fx(x1) + fx(xn) + i5(0);
  } else {
    eightPerRecord(d, coords);
  }
  mark(at, Section::Media, d);
  assignment(d, nmat);
}

void RunDeck::assignment(Deck &d, int nmat) const {
  const Codes c = effectiveCodes();
  if (c.ipcode == 0) {
    for (int ie = 1; ie <= ne; ++ie)
      d << i5(elementMedia.empty()
                  ? 1
                  : elementMedia.at(static_cast<std::size_t>(ie - 1)));
    return;
  }
  if (!zones.empty()) {
    for (int z : zones) d << i5(z);
    return;
  }
  for (int k = 0; k < nmat; ++k) {
    if (c.ipcode == 2)
      d << i5(nmat > 1 ? 1 + k * ne / (nmat - 1) : 1);
    else
      d << i5(1 + k * ne / nmat);
  }
}

void RunDeck::timesAndValues(Deck &d, Starts *at) const {
  const Codes c = effectiveCodes();
  mark(at, Section::Times, d);
  if (c.isstat != 1) {
    if (c.itsgn == 0) {
      std::vector<double> v{tima};
      v.insert(v.end(), totals.begin(), totals.end());
      eightPerRecord(d, v);
    } else {
      d << fx(tima) + fx(delta1) + i5(ntslog);
    }
  }
  mark(at, Section::Values, d);
  for (auto [node, v] : values) d << nodeValue(node, v);
}

void RunDeck::initialAndCriteria(Deck &d, Starts *at) const {
  const Codes c = effectiveCodes();
  mark(at, Section::Initial, d);
  if (c.ioread != 1) d << fx(initial);
  for (auto [node, v] : nonuniform) d << initialValue(node, v);
  mark(at, Section::Criteria, d);
  if (c.i2dwt == 1) d << i5(nitmax) + fx(toler) + fx(relax);
}

void RunDeck::observationsAndProfiles(Deck &d, Starts *at) const {
  mark(at, Section::Observations, d);
  for (int node : observations) d << i5(node);
  mark(at, Section::Profiles, d);
  for (int step : profiles) d << i5(step);
  mark(at, Section::End, d);
}

std::size_t RunDeck::line(Section s, std::size_t k) const {
  Starts at{};
  build(&at);
  return at[static_cast<std::size_t>(s)] + k;
}

std::string RunDeck::with(Section s, std::size_t k,
                          const std::string &rec) const {
  Starts at{};
  const std::string t = build(&at);
  return withLine(t, at[static_cast<std::size_t>(s)] + k, rec);
}

std::string FlowDeck::build(Starts *at) const {
  Deck d;
  const int nmat = static_cast<int>(media.size());
  head(d, at, 'F', nmat, static_cast<int>(fluxes.size()));
  for (const auto &m : media) d << record(m);
  timesAndValues(d, at);
  mark(at, Section::Fluxes, d);
  for (auto [node, q] : fluxes) d << nodeValue(node, q);
  initialAndCriteria(d, at);
  mark(at, Section::DefaultVelocity, d);
  observationsAndProfiles(d, at);
  return d.text;
}

std::string FlowDeck::text() const { return build(nullptr); }

std::string TransportDeck::build(Starts *at) const {
  Deck d;
  const int nmat = static_cast<int>(media.size());
  head(d, at, 'T', nmat, static_cast<int>(fluxes.size()));
  for (const auto &m : media) d << record(m);
  timesAndValues(d, at);
  mark(at, Section::Fluxes, d);
  for (const auto &f : fluxes) d << record(f);
  initialAndCriteria(d, at);
  mark(at, Section::DefaultVelocity, d);
  if (effectiveCodes().iodarc <= 0) d << fx(darcy) + fx(thick);
  observationsAndProfiles(d, at);
  return d.text;
}

std::string TransportDeck::text() const { return build(nullptr); }

} // namespace qmrtest
