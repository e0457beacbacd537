// Looking back over a deck whose reading went wrong for the record that most
// likely went missing or was typed twice. The records read so far each stand
// in a slot of the deck with its own fields; a record left out moves every
// later record one slot too early, a record doubled one slot too late. Each
// record in a slot is given a cost for what does not fit there (a field that
// cannot be read, digits separated by blanks, text beyond the fields, a
// number where a name or title belongs); the reading as it went, with the
// fault where it stopped (or with a record that a warning said was typed a
// column off taken as mistyped), is compared with every reading that takes
// one record as missing or as doubled (a doubled record repeats the one
// before it), and the cheapest, if cheaper, is named.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "io/field.hpp"
#include "io/warn.hpp"

namespace qmr {

namespace {
constexpr long kUnreadable = 4; // a field that cannot be read, a missing record
constexpr long kOdd = 2;        // a field that reads, but hardly as meant

bool isNumberText(std::string_view t) {
  bool digits = false;
  for (char c : t) {
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c != ' ' && c != '.' && c != '+' && c != '-' && c != 'E' &&
               c != 'e' && c != 'D' && c != 'd') {
      return false;
    }
  }
  return digits;
}

// What does not fit when record `r` stands in the slot of record `slot`.
long cost(const ReadRecord &r, const ReadRecord &slot) {
  if (r.missing) return kUnreadable;
  const std::string_view text = r.text;
  if (!slot.shape) return 0;
  const ReadRecord::Shape &shape = *slot.shape;
  long c = 0;
  std::size_t end = 0;
  for (const ReadRecord::Field &f : shape.fields) {
    end = f.col + f.w;
    const std::string_view cols =
        f.col < text.size() ? text.substr(f.col, f.w) : std::string_view();
    const std::size_t a = cols.find_first_not_of(' ');
    if (a == std::string_view::npos) continue;
    const std::string_view inner =
        cols.substr(a, cols.find_last_not_of(' ') - a + 1);
    if (f.kind == 'A') {
      // A number where a name or title belongs; words where a file name
      // belongs.
      const bool name = shape.section.find("file name") != std::string::npos;
      c += isNumberText(inner) ||
                   (name && inner.find(' ') != std::string_view::npos)
               ? kOdd
               : 0;
      continue;
    }
    const char *why = nullptr;
    int i = 0;
    double d = 0.0;
    const bool ok = f.kind == 'I' ? field::readInt(cols, i, why)
                                  : field::readReal(cols, 0, d, why);
    if (!ok) {
      c += kUnreadable;
    } else if (inner.find(' ') != std::string_view::npos) {
      c += kOdd;
    }
  }
  if (!shape.fields.empty() && end < text.size() &&
      text.find_first_not_of(' ', end) != std::string_view::npos)
    c += kOdd;
  return c;
}

// Whether record `r`, which cannot be read in its slot, is most likely
// mistyped rather than out of place: one column to the left or right it
// reads, or a number in it is cut short before its exponent's digits that
// stand in the first column of the next field (a digit moved across the
// boundary).
bool mistyped(const ReadRecord &r, const ReadRecord &slot) {
  ReadRecord moved = r;
  moved.text = " " + r.text;
  if (cost(moved, slot) < kUnreadable) return true;
  if (!r.text.empty() && r.text.front() == ' ') {
    moved.text = r.text.substr(1);
    if (cost(moved, slot) < kUnreadable) return true;
  }
  if (!slot.shape) return false;
  for (const ReadRecord::Field &f : slot.shape->fields) {
    const std::size_t end = f.col + f.w;
    if (end >= r.text.size()) break;
    const std::size_t last = r.text.find_last_not_of(' ', end - 1);
    if (last == std::string::npos || last < f.col) continue;
    const char c = r.text[last];
    const char next = r.text[end];
    if ((c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == '+' ||
         c == '-') &&
        next >= '0' && next <= '9')
      return true;
  }
  return false;
}

// Whether two records hold the same blank-separated texts.
bool sameWords(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  for (;;) {
    i = a.find_first_not_of(' ', i);
    j = b.find_first_not_of(' ', j);
    if (i == std::string_view::npos || j == std::string_view::npos)
      return i == j;
    const std::size_t ei = std::min(a.find(' ', i), a.size());
    const std::size_t ej = std::min(b.find(' ', j), b.size());
    if (a.substr(i, ei - i) != b.substr(j, ej - j)) return false;
    i = ei;
    j = ej;
  }
}

} // namespace

std::string lookBack(const Unit &u, long faultRec) {
  const std::vector<ReadRecord> &log = u.readRecords();
  const auto n = static_cast<long>(log.size());
  if (n < 3) return "";
  const bool endOfFile = log.back().missing;
  auto at = [&log](long rec) -> const ReadRecord & {
    return log[static_cast<std::size_t>(rec - 1)];
  };
  // Running sums over records 1..i of the cost of each record in its own
  // slot (as), in the slot after it (ahead) and in the slot before it
  // (behind).
  std::vector<long> as(static_cast<std::size_t>(n) + 1, 0);
  std::vector<long> ahead = as, behind = as;
  for (long i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    as[k] = as[k - 1] + cost(at(i), at(i));
    if (i == faultRec) as[k] += kUnreadable;
    ahead[k] = ahead[k - 1] + (i < n ? cost(at(i), at(i + 1)) : 0);
    behind[k] = behind[k - 1] + (i > 1 ? cost(at(i), at(i - 1)) : 0);
  }
  const long last = faultRec > 0 && faultRec < n ? faultRec : n;
  long asRead = as[static_cast<std::size_t>(n)];
  // A record that a warning said was typed a column off explains what does
  // not fit in it by itself (one odd field for the mistake).
  const long warned = u.warnedRecord();
  if (warned >= 1 && warned <= n) {
    const auto w = static_cast<std::size_t>(warned);
    const long excused = asRead - (as[w] - as[w - 1]) + 1;
    if (excused < asRead) asRead = excused;
  }
  // A record that cannot be read but would with a column or a digit put
  // back explains the fault by itself.
  if (faultRec == 0 && !endOfFile && mistyped(at(n), at(n)))
    asRead = std::min(asRead, as[static_cast<std::size_t>(n - 1)] + 1);
  // Every reading that takes one record as missing (or as doubled) at
  // record k, with its cost.
  struct Reading {
    long k;
    bool twice;
    long cost;
  };
  std::vector<Reading> readings;
  for (long k = 2; k <= last; ++k) {
    const auto i = static_cast<std::size_t>(k);
    // Record k and those after it one slot early; the last record's own
    // slot is not known, which counts as one odd field.
    readings.push_back({k, false,
                        as[i - 1] + ahead[static_cast<std::size_t>(n - 1)] -
                            ahead[i - 1] + 1});
    // Record k a copy of record k - 1; those after it one slot late.
    if (endOfFile || at(k).text != at(k - 1).text) continue;
    readings.push_back(
        {k, true, as[i - 1] + behind[static_cast<std::size_t>(n)] - behind[i]});
  }
  // The cheapest, if cheaper than the reading as it went; among equals the
  // latest, which leaves the fewest records in a slot other than the one
  // they were read in, and its kind of mistake.
  long best = asRead;
  for (const Reading &r : readings) best = std::min(best, r.cost);
  if (best == asRead) return "";
  bool doubled = false;
  std::vector<long> places; // where the mistake of that kind reads as well
  for (const Reading &r : readings)
    if (r.cost == best) doubled = r.twice;
  for (const Reading &r : readings)
    if (r.cost == best && r.twice == doubled) places.push_back(r.k);
  auto reads = [&places](long k) {
    return std::binary_search(places.begin(), places.end(), k);
  };
  // Among these, a run of records holding the same values is the likeliest
  // place: a record left out of (or typed twice in) any of its records
  // gives the same deck, so the longest run names it.
  long name = places.back(), longest = 1;
  for (long a = places.front(), b = a; a <= places.back(); a = b + 1) {
    b = a;
    while (b < n && sameWords(at(b + 1).text, at(a).text)) ++b;
    const long k = doubled ? b : b + 1;
    if (b > a && b - a + 1 >= longest && reads(k)) {
      longest = b - a + 1;
      name = k;
    }
  }
  // The records around it where the same mistake reads as well.
  long first = name, where = name;
  while (reads(first - 1)) --first;
  while (reads(where + 1)) ++where;
  const std::string k = std::to_string(name);
  const std::string anywhere = first < where
                                   ? " (as they do from any of records " +
                                         std::to_string(first) + " to " +
                                         std::to_string(where) + " on)"
                                   : "";
  if (doubled)
    return "; is record " + k + ", which repeats record " +
           std::to_string(name - 1) +
           ", one too many? The records after it read as the deck expects "
           "them one record earlier" +
           anywhere;
  return "; is a record missing just before record " + k +
         "? From there on the records read as the deck expects them one "
         "record later" +
         anywhere;
}

} // namespace qmr
