// Exactness of the field writers and readers against independent
// conversions: std::to_chars (exact by the language's rules, the same on
// every platform) and, on Linux, the C library's printf and strtod.
//
// The values: random doubles over the whole exponent range, values at and
// next to every kind of half-way point of the written digits (exact ties
// among them) and decade boundary, subnormals and the extremes, in every
// digit count and width of the program's layouts. The count per form is
// 10^6 in optimised builds; QMR_EXACT_COUNT in the environment sets another
// (a long run by hand: QMR_EXACT_COUNT=100000000).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "io/field.hpp"

namespace {

#ifdef QMR_CHECK_BOUNDS // debug and sanitizer builds: slower by far
constexpr long kDefaultCount = 100000;
#else
constexpr long kDefaultCount = 1000000;
#endif

long count() {
  const char *env = std::getenv("QMR_EXACT_COUNT");
  if (env != nullptr && *env != '\0') return std::atol(env);
  return kDefaultCount;
}

// --- reference forms, built from another conversion's digits --------------

std::string rightJustified(const std::string &s, int w) {
  if (static_cast<int>(s.size()) > w) return std::string(w, '*');
  return std::string(w - s.size(), ' ') + s;
}

// Ew.d from a mantissa "d.ddd" and a decimal exponent as another
// conversion prints them (value = d.ddd * 10^x).
std::string eForm(bool neg, const std::string &mant, int x, int w, int d) {
  std::string digits;
  for (char c : mant)
    if (c != '.') digits.push_back(c);
  int e = x + 1;
  if (digits.find_first_not_of('0') == std::string::npos) e = 0;
  std::string s = neg ? "-0." : "0.";
  s += digits.substr(0, d);
  char eb[16];
  const int ae = std::abs(e);
  if (ae <= 99)
    std::snprintf(eb, sizeof eb, "E%c%02d", e < 0 ? '-' : '+', ae);
  else
    std::snprintf(eb, sizeof eb, "%c%03d", e < 0 ? '-' : '+', ae);
  s += eb;
  if (static_cast<int>(s.size()) <= w) return rightJustified(s, w);
  if (static_cast<int>(s.size()) - 1 == w) {
    s.erase(neg ? 1 : 0, 1);
    return s;
  }
  return std::string(w, '*');
}

std::string eByToChars(double v, int w, int d) {
  char buf[128];
  const double a = std::fabs(v);
  auto r = std::to_chars(buf, buf + sizeof buf, a,
                         std::chars_format::scientific, d - 1);
  std::string t(buf, r.ptr);
  const auto ep = t.find('e');
  return eForm(v < 0, t.substr(0, ep), std::stoi(t.substr(ep + 1)), w, d);
}

#ifndef _WIN32
std::string eByPrintf(double v, int w, int d) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
  std::string t(buf);
  const auto ep = t.find('e');
  return eForm(v < 0, t.substr(0, ep), std::stoi(t.substr(ep + 1)), w, d);
}
#endif

std::string fFrom(std::string t, int w) {
  if (t.find_first_of("123456789") == std::string::npos && !t.empty() &&
      t[0] == '-')
    t.erase(0, 1);
  return rightJustified(t, w);
}

std::string fByToChars(double v, int w, int d) {
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d);
  if (r.ec != std::errc()) return std::string(w, '*');
  return fFrom(std::string(buf, r.ptr), w);
}

#ifndef _WIN32
std::string fByPrintf(double v, int w, int d) {
  char buf[512];
  const int n = std::snprintf(buf, sizeof buf, "%.*f", d, v);
  if (n >= static_cast<int>(sizeof buf)) return std::string(w, '*');
  return fFrom(buf, w);
}
#endif

std::string written(char *(*put)(char *, double, int, int), double v, int w,
                    int d) {
  char buf[80];
  char *end = put(buf, v, w, d);
  return std::string(buf, end);
}

// --- values ----------------------------------------------------------------

class Values {
public:
  explicit Values(std::uint64_t seed) : rng_(seed) {}

  // The next value for d significant digits (d = 0: a fixed form with
  // fraction digits `frac`).
  double next(int d, int frac) {
    const double v = pick(d, frac);
    return (rng_() & 1) ? -v : v;
  }

private:
  std::uint64_t bits() { return rng_(); }
  int uniform(int lo, int hi) {
    return lo +
           static_cast<int>(rng_() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  double step(double v, int ulps) {
    for (; ulps > 0; --ulps) v = std::nextafter(v, HUGE_VAL);
    for (; ulps < 0; ++ulps) v = std::nextafter(v, 0.0);
    return v;
  }
  double parse(const std::string &s) {
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
  }
  // A d-digit integer, biased towards runs of nines (carries into the
  // exponent) and small leading parts.
  std::string digits(int d) {
    std::string s;
    const int kind = uniform(0, 3);
    for (int i = 0; i < d; ++i) {
      char c = static_cast<char>('0' + uniform(0, 9));
      if (kind == 0) c = '9';
      if (i == 0 && c == '0') c = '1';
      s.push_back(c);
    }
    return s;
  }

  double pick(int d, int frac) {
    const int kind = uniform(0, 7);
    const int sig = d > 0 ? d : uniform(1, 17);
    switch (kind) {
    case 0: { // any finite double
      double v;
      do v = std::bit_cast<double>(bits() & ~(std::uint64_t{1} << 63));
      while (!std::isfinite(v));
      return v;
    }
    case 1: { // subnormals and the extremes
      const int which = uniform(0, 5);
      if (which == 0)
        return std::bit_cast<double>(bits() & ((std::uint64_t{1} << 52) - 1));
      const double ends[] = {DBL_MIN, DBL_MAX, DBL_TRUE_MIN, 1.0};
      return step(ends[uniform(0, 3)], uniform(-3, 0));
    }
    case 2:
    case 3: { // the half-way point of the written digits, and next to it
      int p = d > 0 ? uniform(-330, 310) : -frac - uniform(0, 1);
      if (d == 0 && uniform(0, 1)) p = -frac;
      const double mid = parse(digits(sig) + "5e" + std::to_string(p - 1));
      if (!std::isfinite(mid) || mid == 0.0) return DBL_MIN;
      return step(mid, uniform(-2, 2));
    }
    case 4: { // exact ties: dyadic values with few significant bits
      const auto r = static_cast<double>((rng_() % 4096) * 2 + 1);
      return std::ldexp(r, uniform(-40, 40));
    }
    case 5: { // decade boundaries, and next to them
      const int k = d > 0 ? uniform(-323, 308) : uniform(-frac - 2, 18);
      return step(parse("1e" + std::to_string(k)), uniform(-2, 2));
    }
    default: { // everyday magnitudes
      const double u = static_cast<double>(bits() >> 11) * 0x1p-53;
      return std::pow(10.0, d > 0 ? -30.0 + 60.0 * u : -frac - 1 + 20.0 * u);
    }
    }
  }

  std::mt19937_64 rng_;
};

struct EForm {
  int w, d;
};
// Every E form of the program's layouts.
constexpr EForm kEForms[] = {{10, 4}, {11, 4}, {12, 5}, {18, 5},
                             {12, 7}, {15, 7}, {17, 7}};

} // namespace

TEST(FieldExact, EFormsAgreeWithExactConversions) {
  const long n = count();
  Values values(20240601);
  long checked = 0;
  for (const int d : {4, 5, 7}) {
    int k = 0;
    for (long i = 0; i < n; ++i) {
      const double v = values.next(d, 0);
      // The widths of this digit count in turn, and a wide field.
      EForm f = kEForms[k++ % 7];
      if (f.d != d) f = {d + 8, d};
      const std::string got = written(qmr::field::writeE, v, f.w, f.d);
      const std::string want = eByToChars(v, f.w, f.d);
      if (got != want) {
        ADD_FAILURE() << "E" << f.w << "." << f.d << " of "
                      << std::bit_cast<std::uint64_t>(v) << " (" << want
                      << "): " << got;
        return;
      }
#ifndef _WIN32
      ASSERT_EQ(got, eByPrintf(v, f.w, f.d)) << std::bit_cast<std::uint64_t>(v);
#endif
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3 * n);
  std::printf("E fields checked: %ld\n", checked);
}

TEST(FieldExact, FFormsAgreeWithExactConversions) {
  const long n = count();
  Values values(777);
  const int fracs[] = {0, 1, 2, 3, 4, 5, 7};
  for (long i = 0; i < n; ++i) {
    const int d = fracs[i % 7];
    const int w = (i / 7) % 2 ? 10 : 30;
    const double v = values.next(0, d);
    const std::string got = written(qmr::field::writeF, v, w, d);
    const std::string want = fByToChars(v, w, d);
    ASSERT_EQ(got, want) << "F" << w << "." << d << " of "
                         << std::bit_cast<std::uint64_t>(v);
#ifndef _WIN32
    ASSERT_EQ(got, fByPrintf(v, w, d)) << std::bit_cast<std::uint64_t>(v);
#endif
  }
  std::printf("F fields checked: %ld\n", n);
}

TEST(FieldExact, IFormsAgreeWithTheLibrary) {
  const long n = count();
  std::mt19937_64 rng(42);
  const int widths[] = {1, 3, 4, 5, 6, 10, 12};
  for (long i = 0; i < n; ++i) {
    int v;
    switch (i % 4) {
    case 0:
      v = static_cast<int>(static_cast<std::uint32_t>(rng()));
      break;
    case 1:
      v = static_cast<int>(rng() % 200001) - 100000;
      break;
    case 2: { // powers of ten and next to them, both signs
      static const int p10[] = {1,         10,        100,     1000,
                                10000,     100000,    1000000, 10000000,
                                100000000, 1000000000};
      v = p10[rng() % 10] + static_cast<int>(rng() % 3) - 1;
      if (rng() & 1) v = -v;
      break;
    }
    default: {
      const int ends[] = {INT_MIN, INT_MAX, 0, -1};
      v = ends[rng() % 4];
    }
    }
    const int w = widths[i % 7];
    char buf[16];
    char *end = qmr::field::writeI(buf, v, w);
    char ref[16];
    auto r = std::to_chars(ref, ref + sizeof ref, v);
    ASSERT_EQ(std::string(buf, end), rightJustified(std::string(ref, r.ptr), w))
        << v;
#ifndef _WIN32
    std::snprintf(ref, sizeof ref, "%d", v);
    ASSERT_EQ(std::string(buf, end), rightJustified(ref, w)) << v;
#endif
  }
  std::printf("I fields checked: %ld\n", n);
}

// --- reading -----------------------------------------------------------------

namespace {

// A field text built from its parts, with the canonical text of its value
// (which a plain conversion reads) and whether the field rules accept it.
struct FieldText {
  std::string text;
  std::string canonical;
  bool valid = true;
};

class Texts {
public:
  explicit Texts(std::uint64_t seed) : rng_(seed) {}

  FieldText next(int w, int d) {
    FieldText f;
    std::string core;
    const bool neg = pick(3) == 0;
    const int sign = pick(3); // 0: none, 1: '+', 2: '-'
    if (sign == 1) core += '+';
    if (sign == 2 || (sign == 0 && neg)) core += '-';
    const bool minus = sign == 2 || (sign == 0 && neg);
    // Digits with or without a point; an exponent in one of its forms.
    const int nd = 1 + pick(w > 10 ? 9 : 7);
    std::string digits;
    for (int i = 0; i < nd; ++i)
      digits.push_back(static_cast<char>('0' + pick(10)));
    const bool point = pick(3) != 0;
    const int at = pick(nd + 1);
    std::string mant =
        point ? digits.substr(0, at) + "." + digits.substr(at) : digits;
    core += mant;
    long exp = 0;
    const int ek = pick(6);
    if (ek > 0) {
      const int magnitude[] = {0, 3, 30, 310, 400};
      exp = pick(magnitude[1 + pick(4)] + 1);
      if (pick(2)) exp = -exp;
      const char *letters[] = {"E", "e", "D", "d"};
      std::string e = std::to_string(exp < 0 ? -exp : exp);
      if (ek == 5) // a sign alone
        core += (exp < 0 ? "-" : "+") + e;
      else
        core += letters[ek - 1] +
                std::string(exp < 0   ? "-"
                            : pick(2) ? "+"
                                      : "") +
                e;
    }
    // A fault now and then: a stray letter, a second point, a bare sign,
    // an exponent without digits.
    const int fault = pick(40);
    if (fault == 0) core.insert(pick(static_cast<int>(core.size()) + 1), "x");
    if (fault == 1) core += ".";
    if (fault == 2) core = minus ? "-" : "+";
    if (fault == 3) core += "E";
    if (static_cast<int>(core.size()) > w)
      core.resize(static_cast<std::size_t>(w));
    // Blanks anywhere, up to the width.
    std::string text = core;
    while (static_cast<int>(text.size()) < w && pick(3) != 0)
      text.insert(
          static_cast<std::size_t>(pick(static_cast<int>(text.size()) + 1)),
          " ");
    f.text = text;
    // Whether it is a number, and its canonical form, from the characters.
    f.canonical = canonicalOf(core, d, f.valid);
    return f;
  }

private:
  int pick(int n) {
    return static_cast<int>(rng_() % static_cast<std::uint64_t>(n));
  }

  // Canonical "[-]digitsE<exp>" of a blank-free field, by plain string
  // rules: a number is sign? digits-with-one-point exponent?.
  static std::string canonicalOf(const std::string &s, int d, bool &valid) {
    std::size_t i = 0;
    std::string out;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      if (s[i] == '-') out += '-';
      ++i;
    }
    std::string mant;
    long frac = 0;
    bool point = false;
    while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) ||
                            (s[i] == '.' && !point))) {
      if (s[i] == '.')
        point = true;
      else {
        mant += s[i];
        if (point) ++frac;
      }
      ++i;
    }
    valid = !mant.empty();
    long exp = 0;
    if (valid && i < s.size()) {
      const char c = s[i];
      if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
        ++i;
      else if (c != '+' && c != '-')
        valid = false;
      bool eneg = false;
      if (valid && i < s.size() && (s[i] == '+' || s[i] == '-')) {
        eneg = s[i] == '-';
        ++i;
      }
      if (valid && i >= s.size()) valid = false;
      for (; valid && i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
          valid = false;
        else
          exp = exp * 10 + (s[i] - '0');
      }
      if (eneg) exp = -exp;
    }
    if (!point) frac = d;
    return out + mant + "e" + std::to_string(exp - frac);
  }

  std::mt19937_64 rng_;
};

double reference(const std::string &canonical) {
#ifndef _WIN32
  return std::strtod(canonical.c_str(), nullptr);
#else
  double v = 0;
  const char *b = canonical.c_str();
  auto r = std::from_chars(b, b + canonical.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    // As strtod: an underflow is a zero, an overflow an infinity, each with
    // the sign of the text.
    const bool neg = !canonical.empty() && canonical[0] == '-';
    v = canonical.find("e-") != std::string::npos ? 0.0 : HUGE_VAL;
    if (neg) v = -v;
  }
  return v;
#endif
}

} // namespace

TEST(FieldExact, FloatingFieldsReadAsAPlainConversion) {
  const long n = count();
  Texts texts(99);
  const struct { int w, d; } forms[] = {{10, 0}, {15, 7}, {10, 3}};
  long good = 0, bad = 0, tooLarge = 0;
  for (long i = 0; i < n; ++i) {
    const auto form = forms[i % 3];
    const FieldText f = texts.next(form.w, form.d);
    double got = -7.0;
    const char *why = nullptr;
    const bool ok = qmr::field::readReal(f.text, form.d, got, why);
    if (!f.valid) {
      ASSERT_FALSE(ok) << '"' << f.text << '"';
      ++bad;
      continue;
    }
    const double want = reference(f.canonical);
    if (std::isinf(want)) {
      ASSERT_FALSE(ok) << '"' << f.text << '"';
      ASSERT_EQ(why, qmr::field::kTooLarge);
      ++tooLarge;
      continue;
    }
    ASSERT_TRUE(ok) << '"' << f.text << '"';
    ASSERT_EQ(std::bit_cast<std::uint64_t>(got),
              std::bit_cast<std::uint64_t>(want))
        << '"' << f.text << "\" as " << f.canonical;
    ++good;
  }
  std::printf("floating fields read: %ld numbers, %ld faults, %ld too large\n",
              good, bad, tooLarge);
  EXPECT_GT(good, n / 2);
  EXPECT_GT(bad, 0);
  EXPECT_GT(tooLarge, 0);
}

TEST(FieldExact, UnderflowReadsAsZeroAndOverflowFails) {
  double v = 1.0;
  const char *why = nullptr;
  ASSERT_TRUE(qmr::field::readReal("    1E-400", 0, v, why));
  EXPECT_EQ(v, 0.0);
  ASSERT_TRUE(qmr::field::readReal("   -1E-400", 0, v, why));
  EXPECT_TRUE(v == 0.0 && std::signbit(v));
  // The smallest subnormal still reads as itself.
  ASSERT_TRUE(qmr::field::readReal("  5E-324", 0, v, why));
  EXPECT_EQ(v, DBL_TRUE_MIN);
  EXPECT_FALSE(qmr::field::readReal("     1E999", 0, v, why));
  EXPECT_EQ(why, qmr::field::kTooLarge);
  // Zero digits with any exponent are zero.
  ASSERT_TRUE(qmr::field::readReal("  0.0E999", 0, v, why));
  EXPECT_EQ(v, 0.0);
  // A mantissa longer than any stack buffer.
  ASSERT_TRUE(qmr::field::readReal(std::string(100, '1') + "E-99", 0, v, why));
  EXPECT_EQ(v, std::strtod((std::string(100, '1') + "E-99").c_str(), nullptr));
}

TEST(FieldExact, IntegerFieldsReadAsAPlainConversion) {
  const long n = count();
  std::mt19937_64 rng(5);
  for (long i = 0; i < n; ++i) {
    const long long v =
        static_cast<long long>(rng() % 4000000000ull) - 2000000000ll;
    std::string text = std::to_string(v);
    if (rng() % 2 == 0 && v >= 0) text = "+" + text;
    // Blanks anywhere.
    for (int b = static_cast<int>(rng() % 4); b > 0; --b)
      text.insert(rng() % (text.size() + 1), " ");
    int got = 0;
    const char *why = nullptr;
    const bool ok = qmr::field::readInt(text, got, why);
    const bool fits = v >= INT_MIN && v <= INT_MAX;
    ASSERT_EQ(ok, fits) << '"' << text << '"';
    if (fits) {
      ASSERT_EQ(got, v) << '"' << text << '"';
    }
  }
  std::printf("integer fields read: %ld\n", n);
}
