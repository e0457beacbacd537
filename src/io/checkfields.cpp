#include <cstddef>

#include "io/warn.hpp"

namespace qmr {

namespace {
// The text of a field as the reader saw it: blanks beyond the record.
std::string fieldText(std::string_view rec, const FieldSpan &f) {
  std::string t = f.col < rec.size() ? std::string(rec.substr(f.col, f.w)) : "";
  t.resize(f.w, ' ');
  return t;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

// Whether t (without blanks) reads as one number of a field of that kind:
// sign and digits; for a floating field also a point and an exponent.
bool oneNumber(std::string_view t, bool integer) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  bool any = false, point = false;
  for (; i < t.size(); ++i) {
    if (digit(t[i])) {
      any = true;
    } else if (t[i] == '.' && !integer && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  if (i == t.size()) return true;
  if (integer) return false;
  const char c = t[i];
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    ++i;
  } else if (c != '+' && c != '-') {
    return false;
  }
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (!digit(t[i])) return false;
  return true;
}

bool hasBlank(std::string_view t) { return t.find(' ') != std::string::npos; }

// t without its leading and trailing blanks.
std::string_view trimmed(std::string_view t) {
  const std::size_t a = t.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  return t.substr(a, t.find_last_not_of(' ') - a + 1);
}

std::string quoted(std::string_view t) { return "\"" + visible(t) + "\""; }

// A number just beyond the last field read (typed a column to the right, it
// is not read at all): warns and returns true.
bool beyond(const Unit &u, long rec, std::string_view text,
            const FieldSpan &f) {
  const std::size_t after = f.col + f.w;
  if (after >= text.size() || !(digit(text[after]) || text[after] == '.'))
    return false;
  const std::size_t stop = text.find(' ', after);
  const std::string_view more =
      text.substr(after, stop == std::string_view::npos ? stop : stop - after);
  warn(u, rec, after + 1, after + more.size(),
       quoted(more) + " stands just beyond the last field read (columns " +
           std::to_string(f.col + 1) + "-" + std::to_string(f.col + f.w) +
           ") and is not read. Is the record shifted to the right?");
  return true;
}
} // namespace

void checkFields(const Unit &u, long rec, std::string_view text,
                 std::span<const FieldSpan> fields) {
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const FieldSpan &f = fields[k];
    const std::string t = fieldText(text, f);
    const bool lastField = k + 1 == fields.size();
    const std::size_t first = t.find_first_not_of(' ');
    if (first == std::string::npos) {
      if (lastField && beyond(u, rec, text, f)) return;
      continue;
    }
    const std::size_t last = t.find_last_not_of(' ');
    const std::string_view inner =
        std::string_view(t).substr(first, last - first + 1);

    // Digits separated by blanks: blanks are ignored, so "2 0" reads as 20.
    if (hasBlank(inner)) {
      std::string joined;
      for (char c : inner)
        if (c != ' ') joined.push_back(c);
      warn(u, rec, f.col + 1, f.col + f.w,
           quoted(t) +
               " has blanks between its characters, which are "
               "ignored: it reads as \"" +
               joined +
               "\". Is a value typed across a field boundary (the record "
               "shifted by a column)?");
      return;
    }

    // A number that runs on into the next field.
    const FieldSpan *next = lastField ? nullptr : &fields[k + 1];
    if (next != nullptr && next->col == f.col + f.w) {
      const std::string r = fieldText(text, *next);
      if (t.back() != ' ' && r.front() != ' ' && hasBlank(r)) {
        const std::size_t rend = r.find(' ');
        const std::string left(inner);
        const std::string right = r.substr(0, rend);
        if (oneNumber(left + right, f.integer && next->integer)) {
          warn(u, rec, f.col + first + 1, next->col + rend,
               quoted(left + right) + " runs across the boundary of columns " +
                   std::to_string(f.col + f.w) + " and " +
                   std::to_string(next->col + 1) + " and is read as " + left +
                   " and " + right + ". Is the record shifted by a column?");
          return;
        }
      }
      // The rest of the record typed one column to the left: the first
      // character of the next field stands in the last column of this one,
      // and the next field, meant to be right-justified, starts in its
      // first column without filling it.
      if (digit(t.back()) && (digit(r.front()) || r.front() == '.') &&
          r.back() == ' ') {
        warn(u, rec, f.col + 1, next->col + next->w,
             quoted(t) + " (columns " + std::to_string(f.col + 1) + "-" +
                 std::to_string(f.col + f.w) +
                 ") ends in its last column and " + quoted(r) + " (columns " +
                 std::to_string(next->col + 1) + "-" +
                 std::to_string(next->col + next->w) +
                 ") starts in its first column without filling it. Is the "
                 "rest of the record typed one column to the left, so that "
                 "column " +
                 std::to_string(f.col + f.w) +
                 " holds the first character of the second field?");
        return;
      }
    }

    if (lastField && beyond(u, rec, text, f)) return;
  }
}

namespace {
bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
} // namespace

std::string blame(const Unit &u, std::string_view rec, std::string_view field,
                  bool integer, bool endOfFile) {
  if (!u.checksFields()) return "";
  std::string hint;
  if (endOfFile) {
    hint = "; the deck ended early: is a record missing above, or is a count "
           "or code near the top of the deck larger than meant?";
  } else {
    const std::string_view t = trimmed(rec);
    int letters = 0, blanks = 0, dots = 0, slashes = 0;
    for (char c : t) {
      letters += letter(c) ? 1 : 0;
      blanks += c == ' ' ? 1 : 0;
      dots += c == '.' ? 1 : 0;
      slashes += (c == '/' || c == '\\' || c == ':') ? 1 : 0;
    }
    const bool spaced = hasBlank(trimmed(field));
    bool real = false;
    for (char c : field) real = real || c == '.' || c == 'E' || c == 'e';
    if (spaced) {
      hint = "; the field has blanks between its characters: is the record "
             "shifted by a column?";
    } else if (letters >= 2 && blanks == 0 && (dots == 1 || slashes > 0)) {
      hint = "; the record looks like a file name: is a record missing before "
             "it, or is the file name record one too many?";
    } else if (letters >= 4 && blanks > 0) {
      hint = "; the record looks like a title or a note: is a record missing "
             "before it, or one too many?";
    } else if (integer && real) {
      hint = "; a floating value stands where an integer is expected: is a "
             "record missing before it, or one too many?";
    }
  }
  return hint + lookBack(u) + seeWarning(u);
}

} // namespace qmr
