// Reading single fields: I, and F or E.
//
// The field rules (blanks ignored, implied fraction digits, D and sign-only
// exponents) turn the columns into digits and a decimal exponent in a small
// buffer on the stack; std::from_chars converts that, correctly rounded.
// Most fields hold a few digits and a small exponent: their value is one
// exact integer times or divided by one exact power of ten, and a single
// IEEE operation on exact operands is correctly rounded, so they are
// converted so without the buffer.
#include <charconv>
#include <climits>
#include <cstdint>
#include <string>

#include "io/field.hpp"

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

// The powers of ten that are exact doubles.
constexpr double kExactTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The exact conversion, for the fields the fast path cannot take: the
// significant digits of the field, already read as a number (leading zeros
// dropped, at least one digit left), times 10^exp10, with its sign.
bool convert(std::string_view field, bool neg, long exp10, double &out,
             const char *&why) {
  char stack[128];
  std::string heap;
  char *buf = stack;
  const std::size_t need = field.size() + 24;
  if (need > sizeof stack) {
    heap.resize(need);
    buf = heap.data();
  }
  char *p = buf;
  if (neg) *p++ = '-';
  const char *const digits = p;
  for (const char c : field) {
    if (c >= '0' && c <= '9') {
      if (p == digits && c == '0') continue;
      *p++ = c;
    } else if (c != ' ' && c != '.' && c != '+' && c != '-') {
      break; // the exponent letter
    } else if ((c == '+' || c == '-') && p != digits) {
      break; // a sign-only exponent
    }
  }
  const long n = p - digits;
  *p++ = 'e';
  p = std::to_chars(p, buf + need, exp10).ptr;
  double v = 0.0;
  const auto r = std::from_chars(buf, p, v);
  if (r.ec == std::errc::result_out_of_range) {
    // The value is 0.<digits> * 10^(n + exp10): at least 0.1 * 10^1 when
    // it overflows, below the smallest double when it underflows.
    if (n + exp10 > 0) {
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
  const char *p = field.data();
  const char *const end = p + field.size();
  auto skip = [&] {
    while (p != end && *p == ' ') ++p;
  };
  skip();
  if (p == end) {
    out = 0.0;
    return true;
  }
  why = "is not a number";
  bool neg = false;
  if (*p == '+' || *p == '-') {
    neg = *p == '-';
    ++p;
  }
  // Digits with at most one point, blanks anywhere: the first 19
  // significant digits in m, their count in nm.
  std::uint64_t m = 0;
  long nm = 0;
  long fracDigits = 0;
  bool point = false, any = false;
  for (; p != end; ++p) {
    const char c = *p;
    const auto digit = static_cast<unsigned>(c - '0');
    if (digit <= 9) {
      any = true;
      fracDigits += point ? 1 : 0;
      if (nm != 0 || digit != 0) {
        if (nm < 19) m = m * 10 + digit;
        ++nm;
      }
    } else if (c == '.' && !point) {
      point = true;
    } else if (c != ' ') {
      break;
    }
  }
  if (!any) return false;
  long exp = 0;
  if (p != end) {
    const char c = *p;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++p;
    else if (c != '+' && c != '-')
      return false;
    skip();
    bool eneg = false;
    if (p != end && (*p == '+' || *p == '-')) {
      eneg = *p == '-';
      ++p;
      skip();
    }
    if (p == end) return false;
    for (; p != end; ++p) {
      const char e = *p;
      if (e == ' ') continue;
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
  const long exp10 = exp - fracDigits;
  if (nm <= 15 && exp10 >= -22 && exp10 <= 22) { // m below 10^15 < 2^53
    const auto x = static_cast<double>(m);
    const double v = exp10 >= 0 ? x * kExactTen[exp10] : x / kExactTen[-exp10];
    out = neg ? -v : v;
    return true;
  }
  return convert(field, neg, exp10, out, why);
}

} // namespace qmr::field
