#include "layout/layout.hpp"
#include "layout/warn.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qmr {

// ---------------------------------------------------------------------------
// Parsing a descriptor
// ---------------------------------------------------------------------------

namespace {

class Parser {
public:
  explicit Parser(std::string_view t) : t_(t) {}

  std::vector<Layout::Op> top(std::size_t &reversion, bool &hasData) {
    reversion = 0;
    std::vector<Layout::Op> ops = list(true, &reversion);
    skip();
    if (i_ != t_.size()) bad("text after the closing parenthesis");
    hasData = false;
    for (const auto &op : ops) {
      if (op.kind != Layout::Kind::X && op.kind != Layout::Kind::Slash &&
          op.kind != Layout::Kind::Lit)
        hasData = true;
    }
    return ops;
  }

private:
  [[noreturn]] void bad(const char *why) const {
    throw std::invalid_argument("layout " + std::string(t_) + ": " + why +
                                " at column " + std::to_string(i_ + 1));
  }
  void skip() {
    while (i_ < t_.size() && t_[i_] == ' ') ++i_;
  }
  bool digit() const {
    return i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9';
  }
  int number() {
    if (!digit()) bad("a number was expected");
    long v = 0;
    while (digit()) {
      v = v * 10 + (t_[i_] - '0');
      if (v > 100000) bad("number too large");
      ++i_;
    }
    return static_cast<int>(v);
  }

  std::vector<Layout::Op> list(bool isTop, std::size_t *reversion) {
    skip();
    if (i_ >= t_.size() || t_[i_] != '(') bad("'(' expected");
    ++i_;
    std::vector<Layout::Op> ops;
    skip();
    if (i_ < t_.size() && t_[i_] == ')') {
      ++i_;
      return ops;
    }
    for (;;) {
      item(ops, isTop, reversion);
      skip();
      if (i_ >= t_.size()) bad("')' expected");
      if (t_[i_] == ',') {
        ++i_;
        continue;
      }
      if (t_[i_] == ')') {
        ++i_;
        return ops;
      }
      if (t_[i_] == '/') continue; // a slash needs no comma before it
      bad("',' or ')' expected");
    }
  }

  void item(std::vector<Layout::Op> &ops, bool isTop, std::size_t *reversion) {
    skip();
    int r = 1;
    bool counted = false;
    if (digit()) {
      r = number();
      counted = true;
      skip();
    }
    if (i_ >= t_.size()) bad("item expected");
    if (counted && r < 1) bad("repeat count must be positive");
    char c = t_[i_];
    auto repeat = [&](const Layout::Op &op) {
      for (int k = 0; k < r; ++k) ops.push_back(op);
    };
    if (c == '(') {
      std::vector<Layout::Op> sub = list(false, nullptr);
      if (isTop && reversion != nullptr) *reversion = ops.size();
      for (int k = 0; k < r; ++k) ops.insert(ops.end(), sub.begin(), sub.end());
      return;
    }
    if (c == '\'') {
      ++i_;
      std::string lit;
      for (;;) {
        if (i_ >= t_.size()) bad("unterminated text");
        if (t_[i_] == '\'') {
          if (i_ + 1 < t_.size() && t_[i_ + 1] == '\'') {
            lit.push_back('\'');
            i_ += 2;
            continue;
          }
          ++i_;
          break;
        }
        lit.push_back(t_[i_++]);
      }
      repeat({Layout::Kind::Lit, 0, 0, lit});
      return;
    }
    if (c == '/') {
      ++i_;
      repeat({Layout::Kind::Slash, 0, 0, {}});
      return;
    }
    char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    ++i_;
    switch (u) {
    case 'X':
      if (!counted) r = 1;
      ops.push_back({Layout::Kind::X, r, 0, {}});
      return;
    case 'I':
    case 'A': {
      int w = number();
      if (w < 1) bad("field width must be positive");
      repeat({u == 'I' ? Layout::Kind::I : Layout::Kind::A, w, 0, {}});
      return;
    }
    case 'F':
    case 'E': {
      int w = number();
      if (i_ >= t_.size() || t_[i_] != '.') bad("'.' expected");
      ++i_;
      int d = number();
      if (w < 1) bad("field width must be positive");
      repeat({u == 'F' ? Layout::Kind::F : Layout::Kind::E, w, d, {}});
      return;
    }
    default:
      --i_;
      bad("unknown item");
    }
  }

  std::string_view t_;
  std::size_t i_ = 0;
};

} // namespace

Layout::Layout(std::string_view text) : text_(text) {
  Parser p(text);
  ops_ = p.top(reversion_, hasData_);
}

// ---------------------------------------------------------------------------
// Writing fields
// ---------------------------------------------------------------------------

namespace {

void fitRight(std::string &line, std::string_view s, int w) {
  if (static_cast<int>(s.size()) > w) {
    line.append(static_cast<std::size_t>(w), '*');
    return;
  }
  line.append(static_cast<std::size_t>(w) - s.size(), ' ');
  line.append(s);
}

void putI(std::string &line, int v, int w) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%d", v);
  fitRight(line, std::string_view(buf, static_cast<std::size_t>(n)), w);
}

// Infinities and not-a-number values: written as a word when it fits.
bool putSpecial(std::string &line, double v, int w) {
  if (std::isnan(v)) {
    fitRight(line, "NaN", w);
    return true;
  }
  if (std::isinf(v)) {
    const bool neg = v < 0;
    std::string_view longForm = neg ? "-Infinity" : "Infinity";
    std::string_view shortForm = neg ? "-Inf" : "Inf";
    fitRight(line,
             static_cast<int>(longForm.size()) <= w ? longForm : shortForm, w);
    return true;
  }
  return false;
}

// Ew.d: [-]0.ddddE+xx, the value rounded to d significant digits; a
// three-digit exponent drops the letter E; one column short drops the
// leading zero; shorter still gives asterisks. Zero has no sign.
void putE(std::string &line, double v, int w, int d) {
  if (putSpecial(line, v, w)) return;
  if (d < 1) d = 1;
  const bool neg = v < 0.0; // a negative zero is written as zero
  const double a = std::fabs(v);
  char digits[64];
  int nd = 0;
  int exp = 0;
  if (a == 0.0) {
    for (nd = 0; nd < d && nd < 60; ++nd) digits[nd] = '0';
  } else {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.*e", d - 1, a);
    const char *p = buf;
    for (; *p != '\0' && *p != 'e'; ++p) {
      if (*p >= '0' && *p <= '9' && nd < 60) digits[nd++] = *p;
    }
    exp = (*p == 'e') ? std::atoi(p + 1) + 1 : 0;
  }
  std::string s;
  s.reserve(static_cast<std::size_t>(d) + 12);
  if (neg) s.push_back('-');
  s.append("0.");
  s.append(digits, static_cast<std::size_t>(nd));
  const int ae = exp < 0 ? -exp : exp;
  char eb[16];
  if (ae <= 99) {
    std::snprintf(eb, sizeof eb, "E%c%02d", exp < 0 ? '-' : '+', ae);
  } else if (ae <= 999) {
    std::snprintf(eb, sizeof eb, "%c%03d", exp < 0 ? '-' : '+', ae);
  } else {
    line.append(static_cast<std::size_t>(w), '*');
    return;
  }
  s.append(eb);
  if (static_cast<int>(s.size()) <= w) {
    fitRight(line, s, w);
  } else if (static_cast<int>(s.size()) - 1 <= w) {
    s.erase(neg ? 1 : 0, 1); // drop the leading zero
    fitRight(line, s, w);
  } else {
    line.append(static_cast<std::size_t>(w), '*');
  }
}

void putF(std::string &line, double v, int w, int d) {
  if (putSpecial(line, v, w)) return;
  if (v == 0.0) v = 0.0; // no negative zero
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, "%.*f", d, v);
  if (n < 0 || n >= static_cast<int>(sizeof buf)) {
    line.append(static_cast<std::size_t>(w), '*');
    return;
  }
  std::string_view s(buf, static_cast<std::size_t>(n));
  // A value that rounds to zero keeps no sign either.
  bool allZero = true;
  for (char c : s) {
    if (c >= '1' && c <= '9') allZero = false;
  }
  if (allZero && !s.empty() && s[0] == '-') s.remove_prefix(1);
  fitRight(line, s, w);
}

void putA(std::string &line, std::string_view t, int w) {
  const auto uw = static_cast<std::size_t>(w);
  if (uw >= t.size()) {
    line.append(uw - t.size(), ' ');
    line.append(t);
  } else {
    line.append(t.substr(0, uw));
  }
}

[[noreturn]] void mismatch(const Layout &f, const char *what) {
  throw std::logic_error("layout " + f.text() + ": " + what);
}

// Runs the layout over the values, handing every finished line to sink.
template <class Sink>
void produce(const Layout &f, std::span<const Val> vals, Sink &&sink) {
  const auto &ops = f.ops();
  std::string line;
  std::size_t pending = 0; // columns skipped by nX, not yet written
  std::size_t vi = 0;
  std::size_t pos = 0;
  auto materialise = [&] {
    line.append(pending, ' ');
    pending = 0;
  };
  for (;;) {
    for (std::size_t k = pos; k < ops.size(); ++k) {
      const Layout::Op &op = ops[k];
      switch (op.kind) {
      case Layout::Kind::X:
        pending += static_cast<std::size_t>(op.w);
        break;
      case Layout::Kind::Slash:
        sink(line);
        line.clear();
        pending = 0;
        break;
      case Layout::Kind::Lit:
        materialise();
        line.append(op.lit);
        break;
      default: {
        if (vi >= vals.size()) {
          sink(line);
          return;
        }
        const Val &v = vals[vi++];
        materialise();
        if (op.kind == Layout::Kind::I) {
          if (v.k != Val::K::Int) mismatch(f, "I needs an integer");
          putI(line, v.i, op.w);
        } else if (op.kind == Layout::Kind::E) {
          if (v.k != Val::K::Real) mismatch(f, "E needs a floating value");
          putE(line, v.d, op.w, op.d);
        } else if (op.kind == Layout::Kind::F) {
          if (v.k != Val::K::Real) mismatch(f, "F needs a floating value");
          putF(line, v.d, op.w, op.d);
        } else {
          if (v.k != Val::K::Text) mismatch(f, "A needs a text");
          putA(line, v.t, op.w);
        }
        break;
      }
      }
    }
    sink(line);
    if (vi >= vals.size()) return;
    if (!f.hasData()) mismatch(f, "values given to a layout without fields");
    line.clear();
    pending = 0;
    pos = f.reversion();
  }
}

} // namespace

void write(Unit &u, const Layout &f, std::span<const Val> vals) {
  produce(f, vals, [&u](const std::string &line) { u.put(line); });
}

std::string format(const Layout &f, std::span<const Val> vals) {
  std::string out;
  bool first = true;
  produce(f, vals, [&](const std::string &line) {
    if (!first) out.push_back('\n');
    out.append(line);
    first = false;
  });
  return out;
}

void writeFree(Unit &u, std::initializer_list<std::string_view> texts) {
  std::string line(" ");
  for (std::string_view t : texts) line.append(t);
  u.put(line);
}

// ---------------------------------------------------------------------------
// Reading fields
// ---------------------------------------------------------------------------

namespace {

// Integer field: an optional sign followed by digits; blanks are ignored
// wherever they stand and an all-blank field is zero.
bool readInt(std::string_view field, int &out, const char *&why) {
  long long v = 0;
  bool neg = false, sign = false, any = false;
  for (char c : field) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign && !any) {
      sign = true;
      neg = c == '-';
      continue;
    }
    if (c < '0' || c > '9') {
      why = "is not an integer";
      return false;
    }
    any = true;
    v = v * 10 + (c - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) {
      why = "is too large for an integer";
      return false;
    }
  }
  if (sign && !any) {
    why = "is a sign without digits";
    return false;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) {
    why = "is too large for an integer";
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

// The fault of a floating field whose value is beyond the range of a double.
const char *const kTooLarge = "is too large for a floating value";

// Floating field: optional sign, digits with or without a decimal point,
// then optionally an exponent (E or D with an optional sign and digits, or
// a sign and digits alone). Without a point the last d digits are the
// fraction. Blanks are ignored; an all-blank field is zero.
bool readReal(std::string_view field, int d, double &out, const char *&why) {
  std::string mant;
  bool neg = false;
  std::size_t i = 0;
  std::string t;
  t.reserve(field.size());
  for (char c : field)
    if (c != ' ') t.push_back(c);
  if (t.empty()) {
    out = 0.0;
    return true;
  }
  why = "is not a number";
  if (t[i] == '+' || t[i] == '-') {
    neg = t[i] == '-';
    ++i;
  }
  bool point = false;
  long fracDigits = 0;
  bool any = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      mant.push_back(c);
      any = true;
      if (point) ++fracDigits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  long exp = 0;
  if (i < t.size()) {
    char c = t[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++i;
    else if (c != '+' && c != '-')
      return false;
    bool eneg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
      eneg = t[i] == '-';
      ++i;
    }
    if (i >= t.size()) return false;
    for (; i < t.size(); ++i) {
      char e = t[i];
      if (e < '0' || e > '9') return false;
      if (exp < 1000000) exp = exp * 10 + (e - '0');
    }
    if (eneg) exp = -exp;
  }
  if (!point) fracDigits = d;
  std::string num;
  num.reserve(mant.size() + 16);
  if (neg) num.push_back('-');
  num.append(mant);
  num.push_back('e');
  num.append(std::to_string(exp - fracDigits));
  errno = 0;
  double v = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(v)) {
    why = kTooLarge;
    return false;
  }
  out = v;
  return true;
}

std::string columns(std::size_t from, int w) {
  return std::to_string(from + 1) + "-" +
         std::to_string(from + static_cast<std::size_t>(w));
}

// Fields of one record checked for values typed a column off; a longer
// record is checked in its first fields only.
constexpr std::size_t kMaxSpans = 64;

// 0 = read, -1 = end of file, 1 = a field that cannot be read, 2 = a
// floating field beyond the range of a double.
int readRecords(Unit &u, const Layout &f, std::span<const Ref> to,
                std::string &fault) {
  const auto &ops = f.ops();
  std::string rec;
  bool overlong = false;
  auto fetch = [&]() -> bool {
    if (u.next(rec)) return true;
    if (u.overlong()) {
      overlong = true;
      fault = u.name() + ", record " + std::to_string(u.recno() + 1) +
              ": a line of more than " + std::to_string(Unit::kMaxLine) +
              " characters is no record of a text file";
      return false;
    }
    if (u.missing()) {
      fault = u.name() + ": the file does not exist (looked for as \"" +
              u.path() + "\")";
      return false;
    }
    fault = u.name() + ": end of file after record " +
            std::to_string(u.recno()) + ", where a record of the layout " +
            f.text() + " was expected";
    if (!u.section().empty()) fault += " (" + u.section() + ")";
    fault += blame(u, "", "", false, true);
    return false;
  };
  if (!fetch()) return overlong ? 1 : -1;
  std::size_t col = 0;
  std::size_t ti = 0;
  std::size_t pos = 0;
  // The numeric fields taken from the current record, for the check of
  // values typed a column off.
  FieldSpan spans[kMaxSpans];
  std::size_t nspans = 0;
  auto recordDone = [&]() {
    if (u.checksFields() && nspans > 0)
      checkFields(u, u.recno(), rec, std::span<const FieldSpan>(spans, nspans));
    nspans = 0;
  };
  for (;;) {
    for (std::size_t k = pos; k < ops.size(); ++k) {
      const Layout::Op &op = ops[k];
      switch (op.kind) {
      case Layout::Kind::X:
        col += static_cast<std::size_t>(op.w);
        break;
      case Layout::Kind::Lit:
        col += op.lit.size();
        break;
      case Layout::Kind::Slash:
        recordDone();
        if (!fetch()) return overlong ? 1 : -1;
        col = 0;
        break;
      default: {
        if (ti >= to.size()) {
          recordDone();
          return 0;
        }
        const Ref &r = to[ti++];
        const auto w = static_cast<std::size_t>(op.w);
        std::string field = col < rec.size() ? rec.substr(col, w) : "";
        field.resize(w, ' ');
        const char *why = "cannot be read";
        bool ok = true;
        if (op.kind == Layout::Kind::I) {
          if (r.k != Ref::K::Int) mismatch(f, "I needs an integer target");
          ok = readInt(field, *static_cast<int *>(r.p), why);
        } else if (op.kind == Layout::Kind::A) {
          if (r.k != Ref::K::Text) mismatch(f, "A needs a text target");
          auto &t = *static_cast<std::string *>(r.p);
          const std::size_t len = t.size();
          if (w >= len)
            t = field.substr(w - len);
          else
            t = field + std::string(len - w, ' ');
        } else {
          if (r.k != Ref::K::Real) mismatch(f, "F/E need a floating target");
          ok = readReal(field, op.d, *static_cast<double *>(r.p), why);
        }
        if (!ok) {
          fault = u.name() + ", record " + std::to_string(u.recno()) +
                  ", columns " + columns(col, op.w) +
                  (u.section().empty() ? "" : " (" + u.section() + ")") +
                  ": \"" + visible(field) + "\" " + why + " (layout " +
                  f.text() + ")";
          fault += blame(u, rec, field, op.kind == Layout::Kind::I, false);
          return why == kTooLarge ? 2 : 1;
        }
        if (op.kind != Layout::Kind::A && nspans < kMaxSpans)
          spans[nspans++] = {col, w, op.kind == Layout::Kind::I};
        col += w;
        break;
      }
      }
    }
    recordDone();
    if (ti >= to.size()) return 0;
    if (!f.hasData()) mismatch(f, "targets given to a layout without fields");
    if (!fetch()) return overlong ? 1 : -1;
    col = 0;
    pos = f.reversion();
  }
}

} // namespace

int readChecked(Unit &u, const Layout &f, std::span<const Ref> to) {
  std::string fault;
  int st = readRecords(u, f, to, fault);
  if (st != 0) u.setFault(fault);
  return st > 0 ? 1 : st;
}

int readEofOnly(Unit &u, const Layout &f, std::span<const Ref> to) {
  std::string fault;
  int st = readRecords(u, f, to, fault);
  if (st > 0) throw ReaderFault(fault, &u, st == 2);
  if (st != 0) u.setFault(fault);
  return st;
}

void readUnchecked(Unit &u, const Layout &f, std::span<const Ref> to) {
  std::string fault;
  const int st = readRecords(u, f, to, fault);
  if (st != 0) throw ReaderFault(fault, &u, st == 2);
}

bool sameText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() > b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char ca = i < a.size() ? a[i] : ' ';
    char cb = i < b.size() ? b[i] : ' ';
    if (ca != cb) return false;
  }
  return true;
}

std::string padded(std::string_view s, std::size_t n) {
  std::string t(s.substr(0, s.size() < n ? s.size() : n));
  t.resize(n, ' ');
  return t;
}

} // namespace qmr
