#include "io/layout.hpp"
#include "io/warn.hpp"

#include <cstring>
#include <stdexcept>

#include "io/field.hpp"

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
    joinLiterals(ops, reversion);
    hasData = false;
    for (const auto &op : ops) {
      if (op.kind != Layout::Kind::X && op.kind != Layout::Kind::Slash &&
          op.kind != Layout::Kind::Lit)
        hasData = true;
    }
    return ops;
  }

private:
  // Literals next to each other write (and pass over) what their joined
  // text does: one step each, except where the reversion resumes.
  static void joinLiterals(std::vector<Layout::Op> &ops,
                           std::size_t &reversion) {
    std::vector<Layout::Op> joined;
    joined.reserve(ops.size());
    std::size_t newReversion = 0;
    for (std::size_t k = 0; k < ops.size(); ++k) {
      if (k == reversion) newReversion = joined.size();
      if (ops[k].kind == Layout::Kind::Lit && k != reversion &&
          !joined.empty() && joined.back().kind == Layout::Kind::Lit) {
        joined.back().lit += ops[k].lit;
        continue;
      }
      joined.push_back(std::move(ops[k]));
    }
    if (reversion >= ops.size()) newReversion = joined.size();
    ops = std::move(joined);
    reversion = newReversion;
  }

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
      std::string text;
      text.reserve(lit.size() * static_cast<std::size_t>(r));
      for (int k = 0; k < r; ++k) text += lit;
      ops.push_back({Layout::Kind::Lit, 0, 0, std::move(text)});
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
// Writing records
// ---------------------------------------------------------------------------

namespace {

// The line being assembled: reused from write to write, so that writing
// allocates nothing once it has grown to the longest line.
class LineBuf {
public:
  // Room for n more characters at the end; the caller advances by what it
  // wrote.
  char *room(std::size_t n) {
    if (len_ + n > buf_.size()) buf_.resize((len_ + n) * 2);
    return buf_.data() + len_;
  }
  void advance(char *end) {
    len_ = static_cast<std::size_t>(end - buf_.data());
  }
  void append(std::string_view s) {
    std::memcpy(room(s.size()), s.data(), s.size());
    len_ += s.size();
  }
  void blanks(std::size_t n) {
    std::memset(room(n), ' ', n);
    len_ += n;
  }
  void clear() { len_ = 0; }
  std::string_view view() const { return {buf_.data(), len_}; }

private:
  std::string buf_ = std::string(1024, ' ');
  std::size_t len_ = 0;
};

[[noreturn]] void mismatch(const Layout &f, const char *what) {
  throw std::logic_error("layout " + f.text() + ": " + what);
}

// Runs the layout over the values, handing every finished line to sink.
template <class Sink>
void produce(const Layout &f, std::span<const Val> vals, bool widen,
             LineBuf &line, Sink &&sink) {
  const auto &ops = f.ops();
  line.clear();
  std::size_t pending = 0; // columns skipped by nX, not yet written
  std::size_t vi = 0;
  std::size_t pos = 0;
  for (;;) {
    for (std::size_t k = pos; k < ops.size(); ++k) {
      const Layout::Op &op = ops[k];
      switch (op.kind) {
      case Layout::Kind::X:
        pending += static_cast<std::size_t>(op.w);
        break;
      case Layout::Kind::Slash:
        sink(line.view());
        line.clear();
        pending = 0;
        break;
      case Layout::Kind::Lit:
        if (pending != 0) line.blanks(pending);
        pending = 0;
        line.append(op.lit);
        break;
      default: {
        if (vi >= vals.size()) {
          sink(line.view());
          return;
        }
        const Val &v = vals[vi++];
        // A widened integer takes at most the 11 columns of an int.
        char *out = line.room(pending + static_cast<std::size_t>(op.w) + 11);
        if (pending != 0) {
          std::memset(out, ' ', pending);
          out += pending;
          pending = 0;
        }
        if (op.kind == Layout::Kind::E) {
          if (v.k != Val::K::Real) mismatch(f, "E needs a floating value");
          out = field::writeE(out, v.d, op.w, op.d);
        } else if (op.kind == Layout::Kind::I) {
          if (v.k != Val::K::Int) mismatch(f, "I needs an integer");
          out = field::writeI(out, v.i, op.w, widen);
        } else if (op.kind == Layout::Kind::F) {
          if (v.k != Val::K::Real) mismatch(f, "F needs a floating value");
          out = field::writeF(out, v.d, op.w, op.d);
        } else {
          if (v.k != Val::K::Text) mismatch(f, "A needs a text");
          out = field::writeA(out, v.t, op.w);
        }
        line.advance(out);
        break;
      }
      }
    }
    sink(line.view());
    if (vi >= vals.size()) return;
    if (!f.hasData()) mismatch(f, "values given to a layout without fields");
    line.clear();
    pending = 0;
    pos = f.reversion();
  }
}

LineBuf tLine; // the program writes from one thread

} // namespace

void write(Unit &u, const Layout &f, std::span<const Val> vals) {
  if (u.drops()) return;
  produce(f, vals, u.widenIntegers(), tLine,
          [&u](std::string_view line) { u.put(line); });
}

std::string format(const Layout &f, std::span<const Val> vals, bool widen) {
  std::string out;
  bool first = true;
  LineBuf line;
  produce(f, vals, widen, line, [&](std::string_view l) {
    if (!first) out.push_back('\n');
    out.append(l);
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

std::string columns(std::size_t from, int w) {
  return std::to_string(from + 1) + "-" +
         std::to_string(from + static_cast<std::size_t>(w));
}

// Fields of one record checked for values typed a column off; a longer
// record is checked in its first fields only.
constexpr std::size_t kMaxSpans = 64;

// The fields of the record that the layout reads from step `from` on, for
// `left` more targets.
std::vector<ReadRecord::Field> recordFields(const Layout &f, std::size_t from,
                                            std::size_t left) {
  std::vector<ReadRecord::Field> out;
  std::size_t col = 0;
  const auto &ops = f.ops();
  for (std::size_t k = from; k < ops.size() && out.size() < left; ++k) {
    const Layout::Op &op = ops[k];
    const auto w = static_cast<std::size_t>(op.w);
    if (op.kind == Layout::Kind::Slash) break;
    if (op.kind == Layout::Kind::X) {
      col += w;
    } else if (op.kind == Layout::Kind::Lit) {
      col += op.lit.size();
    } else {
      const char kind = op.kind == Layout::Kind::I   ? 'I'
                        : op.kind == Layout::Kind::A ? 'A'
                                                     : 'F';
      out.push_back({col, w, kind});
      col += w;
    }
  }
  return out;
}

// 0 = read, -1 = end of file, 1 = a field that cannot be read, 2 = a
// floating field beyond the range of a double.
int readRecords(Unit &u, const Layout &f, std::span<const Ref> to,
                std::string &fault) {
  const auto &ops = f.ops();
  std::string_view rec;
  bool overlong = false;
  std::size_t ti = 0;
  // Reads the next record, which the layout reads from step `from` on.
  auto fetch = [&](std::size_t from) -> bool {
    const bool got = u.next(rec);
    if (u.checksFields() && (got || !u.overlong()))
      u.logRecord(u.recno() + (got ? 0 : 1), got ? rec : std::string_view(),
                  recordFields(f, from, to.size() - ti), !got);
    if (got) return true;
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
  if (!fetch(0)) return overlong ? 1 : -1;
  std::size_t col = 0;
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
        if (!fetch(k + 1)) return overlong ? 1 : -1;
        col = 0;
        break;
      default: {
        if (ti >= to.size()) {
          recordDone();
          return 0;
        }
        const Ref &r = to[ti++];
        const auto w = static_cast<std::size_t>(op.w);
        // The columns of the field that the record holds; the rest are
        // blanks.
        const std::string_view cols =
            col < rec.size() ? rec.substr(col, w) : std::string_view();
        const char *why = "cannot be read";
        bool ok = true;
        if (op.kind == Layout::Kind::I) {
          if (r.k != Ref::K::Int) mismatch(f, "I needs an integer target");
          ok = field::readInt(cols, *static_cast<int *>(r.p), why);
        } else if (op.kind == Layout::Kind::A) {
          if (r.k != Ref::K::Text) mismatch(f, "A needs a text target");
          auto &t = *static_cast<std::string *>(r.p);
          const std::size_t len = t.size();
          // The field padded to w columns, its last len columns or itself
          // followed by blanks: the text keeps its length.
          const std::size_t from = w > len ? w - len : 0;
          for (std::size_t i = 0; i < len; ++i)
            t[i] = from + i < cols.size() ? cols[from + i] : ' ';
        } else {
          if (r.k != Ref::K::Real) mismatch(f, "F/E need a floating target");
          ok = field::readReal(cols, op.d, *static_cast<double *>(r.p), why);
        }
        if (!ok) {
          std::string text(cols);
          text.resize(w, ' ');
          fault = u.name() + ", record " + std::to_string(u.recno()) +
                  ", columns " + columns(col, op.w) +
                  (u.section().empty() ? "" : " (" + u.section() + ")") +
                  ": \"" + visible(text) + "\" " + why + " (layout " +
                  f.text() + ")";
          fault += blame(u, rec, text, op.kind == Layout::Kind::I, false);
          return why == field::kTooLarge ? 2 : 1;
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
    if (!fetch(f.reversion())) return overlong ? 1 : -1;
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
