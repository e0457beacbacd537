// Record layouts: descriptors such as "(8F10.0)" or "(I10,42(1X,E11.4))" that
// say how the values of a record stand in its columns. Every record that the
// program reads and every line that it writes goes through one.
//
// A Layout is parsed once, when it is constructed; routines keep theirs as
// constants next to the code that uses them:
//
//   static const Layout kCoord("(8F10.0)");
//   readUnchecked(s.io.deck, kCoord, targets);
//
// Reading comes in three forms:
//   readChecked    returns 0, a negative status at end of file, or a positive
//                  status for a field that cannot be read; the caller acts.
//   readEofOnly    returns 0 or the negative end-of-file status; a field that
//                  cannot be read ends the run with the reader's own report.
//   readUnchecked  ends the run with the reader's own report on either.
// The reader's own report is a ReaderFault exception naming the file, the
// record, the columns and the fault. After a failed checked read the unit
// keeps the same description in fault().
#pragma once

#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "io/unit.hpp"

namespace qmr {

// A failed unchecked read (or a malformed field in a read checked for end of
// file only): the record reader's own report.
// It names the unit, and whether the field was a number too large for a
// floating value ("1E999"), which the run treats as a fault of the file's
// content rather than of the reading.
class ReaderFault : public std::runtime_error {
public:
  explicit ReaderFault(const std::string &what, const Unit *unit = nullptr,
                       bool nonFinite = false)
      : std::runtime_error(what), unit_(unit), nonFinite_(nonFinite) {}
  const Unit *unit() const { return unit_; }
  bool nonFinite() const { return nonFinite_; }

private:
  const Unit *unit_;
  bool nonFinite_;
};

class Layout {
public:
  enum class Kind : unsigned char { I, F, E, A, X, Slash, Lit };
  // One primitive step of the layout, with groups and repeat counts
  // already expanded: "2(I5,1X)" becomes I5, 1X, I5, 1X.
  struct Op {
    Kind kind;
    int w = 0; // field width, or the count of an nX
    int d = 0; // digits after the point (F, E)
    std::string lit;
  };

  // Parses the descriptor; a descriptor that cannot be parsed throws
  // std::invalid_argument (a fault of the program, never of the input).
  explicit Layout(std::string_view text);

  const std::string &text() const { return text_; }
  const std::vector<Op> &ops() const { return ops_; }
  // Where processing resumes when the layout is used up with values left:
  // the first step of the last top-level group, or the start.
  std::size_t reversion() const { return reversion_; }
  bool hasData() const { return hasData_; }

private:
  std::string text_;
  std::vector<Op> ops_;
  std::size_t reversion_ = 0;
  bool hasData_ = false;
};

// A value to write: an integer, a floating value (single-precision values are
// widened, exactly, to double) or a text.
struct Val {
  enum class K : unsigned char { Int, Real, Text };
  K k;
  int i = 0;
  double d = 0.0;
  std::string_view t;

  Val(int v) : k(K::Int), i(v) {}
  Val(double v) : k(K::Real), d(v) {}
  Val(float v) : k(K::Real), d(static_cast<double>(v)) {}
  Val(std::string_view v) : k(K::Text), t(v) {}
  Val(const std::string &v) : k(K::Text), t(v) {}
  Val(const char *v) : k(K::Text), t(v) {}
};

// A target of a read: an integer, a double or a fixed-length text (the
// length is the string's size when the read starts).
struct Ref {
  enum class K : unsigned char { Int, Real, Text };
  K k;
  void *p;
};
inline Ref ref(int &v) { return {Ref::K::Int, &v}; }
inline Ref ref(double &v) { return {Ref::K::Real, &v}; }
inline Ref ref(std::string &v) { return {Ref::K::Text, &v}; }

// Writing: one or more lines from the layout and the values.
void write(Unit &u, const Layout &f, std::span<const Val> vals);
inline void write(Unit &u, const Layout &f, std::initializer_list<Val> vals) {
  write(u, f, std::span<const Val>(vals.begin(), vals.size()));
}
// The line a write would produce (several lines joined by '\n'), for tests;
// `widen` as Unit::widenIntegers.
std::string format(const Layout &f, std::span<const Val> vals,
                   bool widen = false);
inline std::string format(const Layout &f, std::initializer_list<Val> vals,
                          bool widen = false) {
  return format(f, std::span<const Val>(vals.begin(), vals.size()), widen);
}

// A free-form text line: one blank, then each text over its whole length.
void writeFree(Unit &u, std::initializer_list<std::string_view> texts);

// Reading, in the three forms described above.
[[nodiscard]] int readChecked(Unit &u, const Layout &f,
                              std::span<const Ref> to);
[[nodiscard]] int readEofOnly(Unit &u, const Layout &f,
                              std::span<const Ref> to);
void readUnchecked(Unit &u, const Layout &f, std::span<const Ref> to);
[[nodiscard]] inline int readChecked(Unit &u, const Layout &f,
                                     std::initializer_list<Ref> to) {
  return readChecked(u, f, std::span<const Ref>(to.begin(), to.size()));
}
[[nodiscard]] inline int readEofOnly(Unit &u, const Layout &f,
                                     std::initializer_list<Ref> to) {
  return readEofOnly(u, f, std::span<const Ref>(to.begin(), to.size()));
}
inline void readUnchecked(Unit &u, const Layout &f,
                          std::initializer_list<Ref> to) {
  readUnchecked(u, f, std::span<const Ref>(to.begin(), to.size()));
}

// Character comparison: equal when equal after the shorter text is padded
// on the right with blanks; case-sensitive.
bool sameText(std::string_view a, std::string_view b);

// A text of n characters: s left-justified and blank-padded (or cut).
std::string padded(std::string_view s, std::size_t n);

} // namespace qmr
