// Fuzzer of the record reader: any text read through every input layout of
// the system, in all three read forms, and the values read written back.
//
// Input: byte 0 selects the layout, byte 1 the number of targets, byte 2 the
// length of the text targets; the rest is the file read.
//
// Findings (abort): a crash or sanitizer report; any exception but the
// reader's own report; the three read forms disagreeing on the status, the
// values or the position; a failed read without a description; a restart or
// velocity record written by the program that does not read back as the
// values it was written from.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/layout.hpp"
#include "io/unit.hpp"

namespace {

using qmr::Layout;
using qmr::Ref;
using qmr::Val;

#define FUZZ_CHECK(cond, what)                                                 \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "fuzz_reader: %s (%s)\n", what, #cond);             \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

// Every input layout of the system; the last two are also written (restart
// and velocity records) and read back.
const Layout kLayouts[] = {
    Layout("(16I5)"),     Layout("(A1,A1,A2)"),  Layout("(A200)"),
    Layout("(8F10.0)"),   Layout("(9F10.0)"),    Layout("(2F10.0,I5)"),
    Layout("(I5)"),       Layout("(2I5,F10.0)"), Layout("(2I5,2F10.0)"),
    Layout("(I5,F10.0)"), Layout("(I5,2F10.0)"), Layout("(I5,2E15.7)"),
    Layout("(I5,4E15.7)")};
constexpr int kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];
constexpr int kFirstWritten = 11;

// The kinds of the data items in the order a read fills its targets:
// through the layout, then again from its reversion point.
std::vector<Layout::Kind> kindsFor(const Layout &f, std::size_t count) {
  std::vector<Layout::Kind> kinds;
  std::size_t pos = 0;
  while (kinds.size() < count) {
    for (std::size_t k = pos; k < f.ops().size() && kinds.size() < count; ++k) {
      Layout::Kind kind = f.ops()[k].kind;
      if (kind == Layout::Kind::I || kind == Layout::Kind::F ||
          kind == Layout::Kind::E || kind == Layout::Kind::A)
        kinds.push_back(kind);
    }
    pos = f.reversion();
  }
  return kinds;
}

// One set of targets, with the values a read leaves in them.
struct Targets {
  std::vector<int> ints;
  std::vector<double> reals;
  std::vector<std::string> texts;
  std::vector<Ref> refs;

  Targets(const std::vector<Layout::Kind> &kinds, std::size_t textLen) {
    ints.reserve(kinds.size());
    reals.reserve(kinds.size());
    texts.reserve(kinds.size());
    for (Layout::Kind k : kinds) {
      if (k == Layout::Kind::I) {
        ints.push_back(-12345);
        refs.push_back(qmr::ref(ints.back()));
      } else if (k == Layout::Kind::A) {
        texts.emplace_back(textLen, '#');
        refs.push_back(qmr::ref(texts.back()));
      } else {
        reals.push_back(-1.25);
        refs.push_back(qmr::ref(reals.back()));
      }
    }
  }

  bool same(const Targets &o) const {
    if (ints != o.ints || texts != o.texts) return false;
    if (reals.size() != o.reals.size()) return false;
    return reals.empty() || std::memcmp(reals.data(), o.reals.data(),
                                        reals.size() * sizeof(double)) == 0;
  }

  std::vector<Val> values(const std::vector<Layout::Kind> &kinds) const {
    std::vector<Val> vals;
    std::size_t ii = 0, ir = 0, it = 0;
    for (Layout::Kind k : kinds) {
      if (k == Layout::Kind::I)
        vals.emplace_back(ints[ii++]);
      else if (k == Layout::Kind::A)
        vals.emplace_back(texts[it++]);
      else
        vals.emplace_back(reals[ir++]);
    }
    return vals;
  }
};

// A restart or velocity record written by the program reads back as the
// values it came from, to the seven digits written.
void roundTrip(const Layout &f, const std::vector<Layout::Kind> &kinds,
               const Targets &from) {
  const std::string text = qmr::format(f, from.values(kinds));
  if (text.find('*') != std::string::npos) return; // an I5 that did not fit
  qmr::Unit u;
  u.openText("written", text);
  Targets back(kinds, 1);
  int st = qmr::readChecked(u, f, back.refs);
  if (kinds.empty()) return;
  FUZZ_CHECK(st == 0, "a written record does not read back");
  FUZZ_CHECK(back.ints == from.ints, "an integer changed on the way back");
  for (std::size_t k = 0; k < from.reals.size(); ++k) {
    const double a = from.reals[k], b = back.reals[k];
    FUZZ_CHECK(std::isfinite(b), "a value read back is not finite");
    if (std::fabs(a) < 1.0e-290) {
      FUZZ_CHECK(std::fabs(a - b) <= 1.0e-290, "a tiny value changed");
    } else {
      FUZZ_CHECK(std::fabs(a - b) <= 6.0e-7 * std::fabs(a),
                 "a value changed by more than its seven written digits");
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 3) return 0;
  const int which = data[0] % kLayoutCount;
  const std::size_t count = data[1] % 64;
  const std::size_t textLen = 1 + data[2] % 255;
  const std::string text(reinterpret_cast<const char *>(data) + 3, size - 3);
  const Layout &f = kLayouts[which];
  const std::vector<Layout::Kind> kinds = kindsFor(f, count);

  qmr::Unit checked, eofOnly, unchecked;
  checked.openText("fuzz", text);
  eofOnly.openText("fuzz", text);
  unchecked.openText("fuzz", text);

  for (;;) {
    Targets a(kinds, textLen), b(kinds, textLen), c(kinds, textLen);
    const int st = qmr::readChecked(checked, f, a.refs);

    int se = 0;
    bool eThrew = false;
    try {
      se = qmr::readEofOnly(eofOnly, f, b.refs);
    } catch (const qmr::ReaderFault &fault) {
      eThrew = true;
      FUZZ_CHECK(std::strstr(fault.what(), "fuzz") != nullptr,
                 "the report does not name the file");
    }
    bool uThrew = false;
    try {
      qmr::readUnchecked(unchecked, f, c.refs);
    } catch (const qmr::ReaderFault &fault) {
      uThrew = true;
      FUZZ_CHECK(std::strstr(fault.what(), "fuzz") != nullptr,
                 "the report does not name the file");
    }

    FUZZ_CHECK((st > 0) == eThrew, "checked and end-of-file-only disagree");
    FUZZ_CHECK(eThrew || se == st, "checked and end-of-file-only statuses");
    FUZZ_CHECK((st != 0) == uThrew, "checked and unchecked disagree");
    FUZZ_CHECK(checked.recno() == eofOnly.recno() &&
                   checked.recno() == unchecked.recno(),
               "the read forms stand at different records");
    if (st != 0) {
      FUZZ_CHECK(!checked.fault().empty(), "a failed read has no description");
      FUZZ_CHECK(checked.fault().find("fuzz") != std::string::npos,
                 "the description does not name the file");
    }
    if (st < 0) break;
    if (st > 0) continue;

    FUZZ_CHECK(a.same(b) && a.same(c), "the read forms read different values");
    for (double v : a.reals) FUZZ_CHECK(std::isfinite(v), "non-finite value");

    // The values written back through the same layout, as the program's
    // own report lines and records are.
    qmr::Unit out;
    out.openMemory("out");
    qmr::write(out, f, a.values(kinds));
    FUZZ_CHECK(out.text().empty() == false, "a write wrote nothing");
    if (which >= kFirstWritten) roundTrip(f, kinds, a);
  }
  return 0;
}
