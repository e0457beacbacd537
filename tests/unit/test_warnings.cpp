// Warnings about records typed a column off, read through memory units: the
// lines a deck would give on standard error, collected in a text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/layout.hpp"
#include "io/warn.hpp"

namespace {

using qmr::Layout;
using qmr::ref;

// Reads `text` with `layout` into n targets of the layout's kind and returns
// the warnings it gave.
struct Check {
  std::string warnings;
  std::vector<double> reals;
  std::vector<int> ints;

  Check(const std::string &text, const char *layout, int n, bool integer) {
    qmr::Unit u;
    u.openText("DECK", text);
    u.setCheckFields(true);
    u.setSection("test record");
    std::vector<qmr::Ref> to;
    reals.assign(static_cast<std::size_t>(n), 0.0);
    ints.assign(static_cast<std::size_t>(n), 0);
    for (int k = 0; k < n; ++k)
      to.push_back(integer ? ref(ints[static_cast<std::size_t>(k)])
                           : ref(reals[static_cast<std::size_t>(k)]));
    qmr::setWarningSink(&warnings);
    const int st = qmr::readChecked(u, Layout(layout), to);
    qmr::setWarningSink(nullptr);
    EXPECT_EQ(st, 0) << u.fault();
  }
};

TEST(Warnings, ShiftedRecordsAreTold) {
  // Counts typed one column to the right: 50 and 41 become 5 | 0 ...
  Check counts("    50   41    3", "(16I5)", 3, true);
  EXPECT_EQ(counts.ints[0], 5);
  EXPECT_NE(counts.warnings.find("DECK, record 1, columns 5-6 (test record): "
                                 "\"50\" runs across the boundary of "
                                 "columns 5 and 6"),
            std::string::npos)
      << counts.warnings;

  // A floating record one column to the right: "25.0" split as 25. | 0.
  Check medium("       25.0       0.0     0.001", "(9F10.0)", 3, false);
  EXPECT_DOUBLE_EQ(medium.reals[0], 25.0);
  EXPECT_NE(medium.warnings.find("columns 8-11"), std::string::npos)
      << medium.warnings;

  // Digits separated by blanks inside one field read as one number.
  Check blanks("  2 0", "(I5)", 1, true);
  EXPECT_EQ(blanks.ints[0], 20);
  EXPECT_NE(blanks.warnings.find("it reads as \"20\""), std::string::npos)
      << blanks.warnings;

  // The last value pushed beyond the last field read.
  // "    1    0" one column to the right: 0 | 1, and the 0 left over.
  Check beyond("     1    0", "(16I5)", 2, true);
  EXPECT_EQ(beyond.ints[1], 1);
  EXPECT_NE(beyond.warnings.find(
                "columns 11-11 (test record): \"0\" stands just beyond"),
            std::string::npos)
      << beyond.warnings;
  Check one("    2", "(I5)", 1, true);
  Check oneShifted("    26", "(I5)", 1, true);
  EXPECT_EQ(oneShifted.ints[0], 2);
  EXPECT_TRUE(one.warnings.empty());
  EXPECT_NE(oneShifted.warnings.find("columns 6-6"), std::string::npos);
}

TEST(Warnings, LeftSlipIsTold) {
  // "    2.5000" "1.2500E-03" with the second field typed a column to the
  // left: its 1 overwrites the last 0, and the rest reads .25E-3.
  Check slip("    2.5001.2500E-03       0.5", "(3F10.0)", 3, false);
  EXPECT_DOUBLE_EQ(slip.reals[0], 2.5001);
  EXPECT_DOUBLE_EQ(slip.reals[1], 0.25e-3);
  EXPECT_NE(slip.warnings.find("DECK, record 1, columns 1-20 (test record): "
                               "\"    2.5001\" (columns 1-10) ends in its "
                               "last column and \".2500E-03 \" (columns "
                               "11-20) starts in its first column"),
            std::string::npos)
      << slip.warnings;
  // The slipped field the last of a record that now ends a column early;
  // full-width fields that touch, and a left-justified field after a blank,
  // are no slip.
  Check lastSlipped("       0.11.23457-4", "(2F10.0)", 2, false);
  EXPECT_NE(lastSlipped.warnings.find("columns 1-20"), std::string::npos)
      << lastSlipped.warnings;
  for (const char *ok : {"       0.01.234567-4", "    2.5000 1.25E-3  "}) {
    Check c(ok, "(2F10.0)", 2, false);
    EXPECT_TRUE(c.warnings.empty()) << ok << ": " << c.warnings;
  }
}

TEST(Warnings, NumbersThatMerelyTouchAreFine) {
  // Full-width values side by side, and values that cannot join into one.
  for (const char *ok : {"   15.00005.0000E-04", "-1.234E+01-2.345E+01",
                         "     25.0       0.0     0.001"}) {
    Check c(ok, "(3F10.0)", 2, false);
    EXPECT_TRUE(c.warnings.empty()) << ok << ": " << c.warnings;
  }
  // Five-digit node numbers that fill their fields; left-justified values
  // that keep their value; a blank record.
  for (const char *ok : {"1000110002    1", "  26     3", " "}) {
    Check c(ok, "(16I5)", 3, true);
    EXPECT_TRUE(c.warnings.empty()) << ok << ": " << c.warnings;
  }
}

TEST(Warnings, WhatAnUnreadableRecordLooksLike) {
  // A word with a point, or with a folder separator, looks like a file
  // name; a word without either does not.
  for (const char *name : {"run.lst", "out/run", "C:RUN"}) {
    qmr::Unit u;
    u.openText("DECK", name);
    u.setCheckFields(true);
    int a = 0;
    EXPECT_GT(qmr::readChecked(u, Layout("(16I5)"), {ref(a)}), 0);
    EXPECT_NE(u.fault().find("the record looks like a file name"),
              std::string::npos)
        << u.fault();
  }
  qmr::Unit u;
  u.openText("DECK", "Valley");
  u.setCheckFields(true);
  int a = 0;
  EXPECT_GT(qmr::readChecked(u, Layout("(16I5)"), {ref(a)}), 0);
  EXPECT_EQ(u.fault().find("looks like"), std::string::npos) << u.fault();
}

TEST(Warnings, ControlCharactersAreShown) {
  EXPECT_EQ(qmr::visible(std::string("a\tb\0c\r\x7f", 7)),
            "a\\tb\\x00c\\r\\x7f");
  qmr::Unit u;
  u.openText("DECK", "   2\t   2\n");
  int a = 0, b = 0;
  EXPECT_GT(qmr::readChecked(u, Layout("(2I5)"), {ref(a), ref(b)}), 0);
  EXPECT_NE(u.fault().find("\"   2\\t\""), std::string::npos) << u.fault();
}

TEST(Warnings, ByteOrderMarkIsNoPartOfTheFirstRecord) {
  qmr::Unit u;
  u.openText("DECK", "\xEF\xBB\xBF"
                     "F\r\nx\n");
  std::string rec;
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, "F");
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, "x");
  // Only at the start of the file.
  qmr::Unit later;
  later.openText("DECK", "F\n\xEF\xBB\xBFx\n");
  ASSERT_TRUE(later.next(rec));
  ASSERT_TRUE(later.next(rec));
  EXPECT_EQ(rec, "\xEF\xBB\xBFx");
}

} // namespace

namespace lookback {

// A deck of three numbers in I5 records, a record of two floating values and
// a record of two integers, read as the program reads count-driven
// sections; returns the fault of the read that failed (empty when all
// read).
std::string readDeck(const std::string &text) {
  qmr::Unit u;
  u.openText("DECK", text);
  u.setCheckFields(true);
  std::string warnings;
  qmr::setWarningSink(&warnings);
  int item[3] = {}, pair[2] = {};
  double reals[2] = {};
  int st = qmr::readChecked(u, Layout("(I5)"),
                            {ref(item[0]), ref(item[1]), ref(item[2])});
  if (st == 0)
    st =
        qmr::readChecked(u, Layout("(2F10.0)"), {ref(reals[0]), ref(reals[1])});
  if (st == 0)
    st = qmr::readChecked(u, Layout("(2I5)"), {ref(pair[0]), ref(pair[1])});
  qmr::setWarningSink(nullptr);
  return st == 0 ? std::string() : u.fault();
}

} // namespace lookback

TEST(Warnings, MissingOrDoubledRecordIsNamed) {
  const std::string deck = "    1\n    2\n    3\n       1.5       2.5\n"
                           "    9    8\n";
  EXPECT_EQ(lookback::readDeck(deck), "");
  // The second item left out: the floating record is read as the third
  // item (its first five columns blank), and the deck ends where the pair
  // of integers was expected. Leaving out the third item reads as well, so
  // the message gives the range too.
  const std::string missing =
      lookback::readDeck("    1\n    3\n       1.5       2.5\n    9    8\n");
  EXPECT_NE(missing.find("is a record missing just before record 3? From "
                         "there on the records read as the deck expects "
                         "them one record later (as they do from any of "
                         "records 2 to 3 on)"),
            std::string::npos)
      << missing;
  // The second item typed twice: the third item is read as the floating
  // record, which in turn meets the integer pair.
  const std::string twice = lookback::readDeck(
      "    1\n    2\n    2\n    3\n       1.5       2.5\n    9    8\n");
  EXPECT_NE(twice.find("DECK, record 5, columns 6-10"), std::string::npos)
      << twice;
  EXPECT_NE(twice.find("is record 3, which repeats record 2, one too many?"),
            std::string::npos)
      << twice;
  // A record that cannot be read because a digit of its exponent moved
  // into the next field, or because it is typed a column off, is no
  // record out of place.
  for (const char *rec : {"    1.5E- 3      2.5", "     1.5E-3       2.5"}) {
    const std::string mistyped = lookback::readDeck(
        "    1\n    2\n    3\n" + std::string(rec) + "\n    9    8\n");
    EXPECT_NE(mistyped.find("DECK, record 4, columns 1-10"), std::string::npos)
        << mistyped;
    EXPECT_EQ(mistyped.find("missing just before"), std::string::npos)
        << mistyped;
  }
}
