// Reading single fields: I, and F or E.
//
// The field rules (blanks ignored, implied fraction digits, D and sign-only
// exponents) turn the columns into digits and a decimal exponent in a small
// buffer on the stack; std::from_chars converts that, correctly rounded.
#include <charconv>
#include <climits>
#include <cstring>
#include <string>

#include "layout/field.hpp"

namespace qmr::field {

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

namespace {

// The non-blank characters of a field, one after another.
class Chars {
public:
  explicit Chars(std::string_view f) : p_(f.data()), end_(f.data() + f.size()) {
    skip();
  }
  bool done() const { return p_ == end_; }
  char peek() const { return *p_; }
  void next() {
    ++p_;
    skip();
  }

private:
  void skip() {
    while (p_ != end_ && *p_ == ' ') ++p_;
  }
  const char *p_;
  const char *end_;
};

// digits (no leading zero, at least one) times 10^exp10, with its sign.
bool convert(bool neg, const char *digits, std::size_t n, long exp10,
             double &out, const char *&why) {
  char stack[128];
  std::string heap;
  char *buf = stack;
  const std::size_t need = n + 24;
  if (need > sizeof stack) {
    heap.resize(need);
    buf = heap.data();
  }
  char *p = buf;
  if (neg) *p++ = '-';
  std::memcpy(p, digits, n);
  p += n;
  *p++ = 'e';
  p = std::to_chars(p, buf + need, exp10).ptr;
  double v = 0.0;
  const auto r = std::from_chars(buf, p, v);
  if (r.ec == std::errc::result_out_of_range) {
    // The value is 0.<digits> * 10^(n + exp10): at least 0.1 * 10^1 when
    // it overflows, below the smallest double when it underflows.
    if (static_cast<long>(n) + exp10 > 0) {
      why = kTooLarge;
      return false;
    }
    v = neg ? -0.0 : 0.0;
  } else if (r.ec != std::errc()) {
    return false;
  }
  out = v;
  return true;
}

} // namespace

bool readReal(std::string_view field, int d, double &out, const char *&why) {
  Chars t(field);
  if (t.done()) {
    out = 0.0;
    return true;
  }
  why = "is not a number";
  bool neg = false;
  if (t.peek() == '+' || t.peek() == '-') {
    neg = t.peek() == '-';
    t.next();
  }
  // Mantissa digits without leading zeros (on the stack while they fit).
  char stack[64];
  std::string heap;
  char *mant = stack;
  std::size_t nm = 0;
  bool point = false, any = false;
  long fracDigits = 0;
  for (; !t.done(); t.next()) {
    const char c = t.peek();
    if (c >= '0' && c <= '9') {
      any = true;
      if (point) ++fracDigits;
      if (nm == 0 && c == '0') continue;
      if (mant == stack && nm == sizeof stack) {
        heap.assign(stack, nm);
        mant = nullptr;
      }
      if (mant == nullptr)
        heap.push_back(c);
      else
        mant[nm] = c;
      ++nm;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  long exp = 0;
  if (!t.done()) {
    const char c = t.peek();
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      t.next();
    else if (c != '+' && c != '-')
      return false;
    bool eneg = false;
    if (!t.done() && (t.peek() == '+' || t.peek() == '-')) {
      eneg = t.peek() == '-';
      t.next();
    }
    if (t.done()) return false;
    for (; !t.done(); t.next()) {
      const char e = t.peek();
      if (e < '0' || e > '9') return false;
      if (exp < 1000000) exp = exp * 10 + (e - '0');
    }
    if (eneg) exp = -exp;
  }
  if (!point) fracDigits = d;
  if (nm == 0) { // all digits zero
    out = neg ? -0.0 : 0.0;
    return true;
  }
  return convert(neg, mant == nullptr ? heap.data() : mant, nm,
                 exp - fracDigits, out, why);
}

} // namespace qmr::field
