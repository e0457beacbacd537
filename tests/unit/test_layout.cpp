// The layout engine: the columns a layout writes and reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/layout.hpp"
#include "support.hpp"

using qmr::format;
using qmr::Layout;
using qmr::ref;
using qmr::Unit;

namespace {

std::string one(const char *layout, std::initializer_list<qmr::Val> vals) {
  return format(Layout(layout), vals);
}

} // namespace

TEST(LayoutWrite, ExponentFormsFromTheirRules) {
  EXPECT_EQ(one("(E12.5)", {12.5}), " 0.12500E+02");
  EXPECT_EQ(one("(E12.5)", {-12.5}), "-0.12500E+02");
  EXPECT_EQ(one("(E11.4)", {12.5}), " 0.1250E+02");
  EXPECT_EQ(one("(E12.5)", {0.0}), " 0.00000E+00");
  // One column short: the leading zero goes.
  EXPECT_EQ(one("(E10.4)", {-12.5}), "-.1250E+02");
  EXPECT_EQ(one("(E12.7)", {1.5}), ".1500000E+01");
  // Shorter still: asterisks.
  EXPECT_EQ(one("(E12.7)", {-1.5}), "************");
  // A positive value fits E10.4 exactly, with no blank before it.
  EXPECT_EQ(one("(E10.4)", {12.5}), "0.1250E+02");
  // Three-digit exponents drop the letter.
  EXPECT_EQ(one("(E11.5)", {1.2345E+99}), "0.12345+100");
  EXPECT_EQ(one("(E12.5)", {1.0E-101}), " 0.10000-100");
  EXPECT_EQ(one("(E12.5)", {1.0E-100}), " 0.10000E-99");
  // Rounding to d significant digits, with the carry into the exponent.
  EXPECT_EQ(one("(E11.4)", {9.99996}), " 0.1000E+02");
  EXPECT_EQ(one("(E11.4)", {0.00123456}), " 0.1235E-02");
  EXPECT_EQ(one("(E15.7)", {-1234.5678}), " -0.1234568E+04");
}

TEST(LayoutWrite, ZeroHasNoSign) {
  EXPECT_EQ(one("(E11.4)", {-0.0}), " 0.0000E+00");
  EXPECT_EQ(one("(E15.7)", {-0.0}), "  0.0000000E+00");
  EXPECT_EQ(one("(E12.5)", {static_cast<float>(-0.0)}), " 0.00000E+00");
}

TEST(LayoutWrite, SinglePrecisionValuesGoThroughTheSameForms) {
  // 0.1f is 0.100000001490116...; four digits show 0.1000.
  EXPECT_EQ(one("(E11.4)", {0.1f}), " 0.1000E+00");
  EXPECT_EQ(one("(E11.4)", {2.0e-3f}), " 0.2000E-02");
  // 1/3 in single precision is 0.3333333432674408: eight digits show it.
  EXPECT_EQ(one("(E16.8)", {1.0f / 3.0f}), "  0.33333334E+00");
}

TEST(LayoutWrite, IntegersAndTexts) {
  EXPECT_EQ(one("(I3)", {1000}), "***");
  EXPECT_EQ(one("(I3)", {-12}), "-12");
  EXPECT_EQ(one("(I3)", {-123}), "***");
  EXPECT_EQ(one("(I5)", {0}), "    0");
  EXPECT_EQ(one("(A2)", {"ABC"}), "AB");
  EXPECT_EQ(one("(A5)", {"AB"}), "   AB");
  // The medium heading shows medium 10 as one asterisk.
  EXPECT_EQ(one("('MEDIUM ',I1)", {10}), "MEDIUM *");
}

TEST(LayoutWrite, RowOfTheGraphicFile) {
  std::string row = one("(I10,42(1X,E11.4))", {3, 1.0, 0.0, -2.5});
  EXPECT_EQ(row, "         3  0.1000E+01  0.0000E+00 -0.2500E+01");
  EXPECT_EQ(row.size(), 46u);
}

TEST(LayoutWrite, BlankAndEmptyLines) {
  EXPECT_EQ(one("(' ')", {}), " ");
  EXPECT_EQ(one("(1X)", {}), "");
  EXPECT_EQ(one("(/,' ** STEADY STATE CONDITION **',/)", {}),
            "\n ** STEADY STATE CONDITION **\n");
  EXPECT_EQ(one("(80('*'))", {}), std::string(80, '*'));
  EXPECT_EQ(one("(24(/))", {}), std::string(24, '\n'));
  // Skipped columns count only when something is written after them.
  EXPECT_EQ(one("(5X,I2)", {7}), "      7");
  EXPECT_EQ(one("(I2,5X)", {7}), " 7");
}

TEST(LayoutWrite, WriteEndsAtADataItemWithNoValueLeft) {
  const char *heading =
      "('1.TIMESTEP   2.TIMEVAL   3.LOGTIME',40('   OBS.(',I3,')'),'*')";
  EXPECT_EQ(one(heading, {5, 9}), "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.( "
                                  " 5)   OBS.(  9)   OBS.(");
  EXPECT_EQ(one(heading, {}), "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(");
  // Literals and record ends before the data item are still written.
  EXPECT_EQ(one("(I2,/,'X',I2)", {1}), " 1\nX");
}

TEST(LayoutWrite, ReversionToTheLastTopLevelGroup) {
  std::vector<qmr::Val> v;
  for (int i = 1; i <= 7; ++i) {
    v.emplace_back(i);
    v.emplace_back(static_cast<double>(i));
  }
  std::string text = format(Layout("(6(I5,E11.4))"), v);
  auto ls = qmrtest::lines(text);
  ASSERT_EQ(ls.size(), 2u);
  EXPECT_EQ(ls[0].size(), 96u);
  EXPECT_EQ(ls[1], "    7 0.7000E+01");
  // Without a group the layout starts again from its beginning.
  EXPECT_EQ(format(Layout("('A',I2)"), {1, 2}), "A 1\nA 2");
  // The group is taken with its repeat count; items before it are not
  // repeated.
  EXPECT_EQ(format(Layout("('H',2(I2))"), {1, 2, 3}), "H 1 2\n 3");
}

TEST(LayoutWrite, EveryWriteEndsItsLine) {
  Unit u;
  u.openMemory("mem");
  qmr::write(u, Layout("(I3)"), {5});
  qmr::write(u, Layout("(/,'A',/)"), {});
  EXPECT_EQ(u.text(), "  5\n\nA\n\n");
  qmr::writeFree(u, {"****", "MSG", "****"});
  EXPECT_EQ(qmrtest::lines(u.text()).back(), " ****MSG****");
}

TEST(LayoutParse, ItemsAndFaults) {
  EXPECT_NO_THROW(Layout("(I10,42(1X,E11.4))"));
  EXPECT_NO_THROW(Layout("(2I5,2F10.0)"));
  EXPECT_NO_THROW(Layout("('it''s')"));
  EXPECT_EQ(one("('it''s')", {}), "it's");
  EXPECT_THROW(Layout("(I5"), std::invalid_argument);
  EXPECT_THROW(Layout("(Q5)"), std::invalid_argument);
  EXPECT_THROW(Layout("(E10)"), std::invalid_argument);
  EXPECT_THROW(Layout("('open)"), std::invalid_argument);
  // A value of the wrong kind is a fault of the program.
  EXPECT_THROW(one("(I5)", {1.0}), std::logic_error);
}

// --- reading ---------------------------------------------------------------

namespace {
struct Reader {
  Unit u;
  explicit Reader(const std::string &text) { u.openText("deck", text); }
};
} // namespace

TEST(LayoutRead, BlanksAndEmptyRecords) {
  Reader r("\n  1 2\n");
  std::vector<int> v(16, 9);
  std::vector<qmr::Ref> refs;
  for (int &x : v) refs.push_back(ref(x));
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(16I5)"), refs), 0);
  for (int x : v) EXPECT_EQ(x, 0);
  int n = 0;
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(I5)"), {ref(n)}), 0);
  EXPECT_EQ(n, 12);
}

TEST(LayoutRead, FloatingFields) {
  Reader r("    1.5E-3     1.5-3       100   -2.5D+1     .25E1\n"
           "       12345678\n");
  double a = 1, b = 1, c = 1, d = 1, e = 1, f = 1;
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(8F10.0)"),
                             {ref(a), ref(b), ref(c), ref(d), ref(e), ref(f)}),
            0);
  EXPECT_EQ(a, 0.0015);
  EXPECT_EQ(b, 0.0015);
  EXPECT_EQ(c, 100.0);
  EXPECT_EQ(d, -25.0);
  EXPECT_EQ(e, 2.5);
  EXPECT_EQ(f, 0.0); // an all-blank field past the end of the record
  double g = 0;
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(E15.7)"), {ref(g)}), 0);
  // Without a point the last seven digits are the fraction.
  EXPECT_EQ(g, 1.2345678);
}

TEST(LayoutRead, ValuesRunOnAcrossRecords) {
  Reader r("    1\n    2\n    3\n" + std::string(80, '1') + "\n    5\n");
  int a = 0, b = 0, c = 0;
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(I5)"), {ref(a), ref(b), ref(c)}), 0);
  EXPECT_EQ(a + b * 10 + c * 100, 321);
  std::vector<int> v(17, 0);
  std::vector<qmr::Ref> refs;
  for (int &x : v) refs.push_back(ref(x));
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(16I5)"), refs), 0);
  EXPECT_EQ(v[15], 11111);
  EXPECT_EQ(v[16], 5); // columns 1-5 of the next record
  EXPECT_EQ(r.u.recno(), 5);
}

TEST(LayoutRead, ReadEndsAtTheFirstItemWithoutTarget) {
  Reader r("    1    2    3\n    4\n");
  int a = 0, b = 0;
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(16I5)"), {ref(a)}), 0);
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(16I5)"), {ref(b)}), 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 4); // the rest of the first record was skipped
}

TEST(LayoutRead, ReversionToAnEmptyLastGroupReadsNoMoreFields) {
  // Reading resumes at the last top-level group, here one without items:
  // no field is ever met again, and the read runs into the end of the file.
  Reader r("    1\n    2\n");
  int a = 0, b = 0;
  EXPECT_LT(qmr::readChecked(r.u, Layout("(I5,())"), {ref(a), ref(b)}), 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
}

TEST(LayoutRead, TextFields) {
  Reader r("FXOW\nlisting.out\r\n");
  std::string a(80, '?'), b(80, '?'), c(80, '?'), name(200, '?');
  ASSERT_EQ(
      qmr::readChecked(r.u, Layout("(A1,A1,A2)"), {ref(a), ref(b), ref(c)}), 0);
  EXPECT_EQ(a, qmr::padded("F", 80));
  EXPECT_EQ(c, qmr::padded("OW", 80));
  ASSERT_EQ(qmr::readChecked(r.u, Layout("(A200)"), {ref(name)}), 0);
  // The carriage return of a CRLF line end is not part of the record.
  EXPECT_EQ(name, qmr::padded("listing.out", 200));
  // A field wider than the text keeps its rightmost characters.
  Reader t("ABCD\n");
  std::string two(2, ' ');
  ASSERT_EQ(qmr::readChecked(t.u, Layout("(A4)"), {ref(two)}), 0);
  EXPECT_EQ(two, "CD");
}

TEST(LayoutRead, StatusOfTheThreeForms) {
  const Layout i5("(I5)");
  int n = 0;
  {
    Reader r("  1x \n");
    EXPECT_GT(qmr::readChecked(r.u, i5, {ref(n)}), 0);
    EXPECT_NE(r.u.fault().find("deck, record 1, columns 1-5"),
              std::string::npos);
    EXPECT_NE(r.u.fault().find("\"  1x \""), std::string::npos);
  }
  {
    Reader r("");
    EXPECT_LT(qmr::readChecked(r.u, i5, {ref(n)}), 0);
    EXPECT_NE(r.u.fault().find("end of file"), std::string::npos);
  }
  {
    Reader r("1.2.3\n");
    double x = 0;
    EXPECT_GT(qmr::readChecked(r.u, Layout("(F10.0)"), {ref(x)}), 0);
  }
  {
    Reader r("");
    EXPECT_LT(qmr::readEofOnly(r.u, i5, {ref(n)}), 0);
    Reader bad("  a\n");
    EXPECT_THROW((void)qmr::readEofOnly(bad.u, i5, {ref(n)}), qmr::ReaderFault);
  }
  {
    Reader r("");
    EXPECT_THROW(qmr::readUnchecked(r.u, i5, {ref(n)}), qmr::ReaderFault);
    Reader bad("  a\n");
    EXPECT_THROW(qmr::readUnchecked(bad.u, i5, {ref(n)}), qmr::ReaderFault);
  }
  {
    // A second record missing in the middle of a read is an end of file.
    Reader r("    1\n");
    int a = 0, b = 0;
    EXPECT_LT(qmr::readChecked(r.u, i5, {ref(a), ref(b)}), 0);
  }
}

TEST(LayoutRead, NumbersBeyondTheirType) {
  int n = 0;
  double x = 0;
  Reader big("  99999999999\n");
  EXPECT_GT(qmr::readChecked(big.u, Layout("(I12)"), {ref(n)}), 0);
  Reader inf("     1E999\n");
  EXPECT_GT(qmr::readChecked(inf.u, Layout("(F10.0)"), {ref(x)}), 0);
  Reader sign("    -\n");
  EXPECT_GT(qmr::readChecked(sign.u, Layout("(I5)"), {ref(n)}), 0);
  // The exponent letter is E or D; any other letter is no number.
  Reader q("     1.5Q3\n");
  EXPECT_GT(qmr::readChecked(q.u, Layout("(F10.0)"), {ref(x)}), 0);
  Reader q2("     1.5q3\n");
  EXPECT_GT(qmr::readChecked(q2.u, Layout("(F10.0)"), {ref(x)}), 0);
  Reader tab("\t12\n");
  EXPECT_GT(qmr::readChecked(tab.u, Layout("(I5)"), {ref(n)}), 0);
  Reader neg("-2147483648\n");
  ASSERT_EQ(qmr::readChecked(neg.u, Layout("(I11)"), {ref(n)}), 0);
  EXPECT_EQ(n, -2147483647 - 1);
}

TEST(TextCompare, PaddedWithBlanksAndCaseSensitive) {
  EXPECT_TRUE(qmr::sameText("null", "null     "));
  EXPECT_TRUE(qmr::sameText("", "   "));
  EXPECT_FALSE(qmr::sameText("NULL", "null"));
  EXPECT_FALSE(qmr::sameText("ow", "OW"));
}

TEST(UnitFiles, UnknownStatusKeepsAFileUntilItIsWritten) {
  auto dir = qmrtest::scratch("unit");
  auto p = (dir / "old.dat").string();
  qmrtest::writeFile(p, "old 1\nold 2\n");
  {
    Unit u;
    ASSERT_TRUE(u.openUnknown(p));
    std::string rec;
    ASSERT_TRUE(u.next(rec));
    EXPECT_EQ(rec, "old 1");
    EXPECT_TRUE(u.close());
  }
  EXPECT_EQ(qmrtest::readFile(p), "old 1\nold 2\n");
  {
    Unit u;
    ASSERT_TRUE(u.openUnknown(p));
    u.put("new");
    EXPECT_TRUE(u.close());
  }
  EXPECT_EQ(qmrtest::readFile(p), "new\n");
  // A missing file is created empty.
  auto q = (dir / "made.dat").string();
  {
    Unit u;
    ASSERT_TRUE(u.openUnknown(q));
    EXPECT_TRUE(u.close());
  }
  EXPECT_TRUE(std::filesystem::exists(q));
  // A folder is not a file.
  Unit f;
  EXPECT_FALSE(f.openUnknown(dir.string()));
  EXPECT_FALSE(f.openWrite(dir.string()));
  std::filesystem::remove_all(dir);
}

TEST(UnitFiles, AUnitOpenedAgainStartsAfresh) {
  auto dir = qmrtest::scratch("reopen");
  const auto a = (dir / "a.dat").string(), b = (dir / "b.dat").string();
  qmrtest::writeFile(a, "a 1\na 2\na 3\n");
  qmrtest::writeFile(b, "b 1\nb 2\n");
  Unit u;
  std::string rec;
  ASSERT_TRUE(u.openRead(a));
  ASSERT_TRUE(u.next(rec));
  ASSERT_TRUE(u.next(rec));
  EXPECT_TRUE(u.close());
  ASSERT_TRUE(u.openRead(b));
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, "b 1");
  EXPECT_EQ(u.recno(), 1);
  // Closed before its folder goes (a file still open cannot be removed on
  // every system).
  EXPECT_TRUE(u.close());
  // A memory unit opened again holds only what is written after.
  u.openMemory("first");
  u.put("old");
  u.openMemory("second");
  u.put("new");
  EXPECT_EQ(u.text(), "new\n");
  std::filesystem::remove_all(dir);
}

TEST(UnitFiles, AFullDeviceIsReportedAtClose) {
  Unit u;
  ASSERT_TRUE(u.openWrite("/dev/full"));
  u.put("a line that cannot be stored");
  EXPECT_FALSE(u.close());
  EXPECT_FALSE(u.why().empty());
}

TEST(UnitFiles, LongRecordsAreCut) {
  Unit u;
  u.openText("deck", std::string(100000, '7') + "\n    3\n");
  std::string rec;
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec.size(), Unit::kMaxRecord);
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, "    3");
}

TEST(UnitFiles, DeckNamesResolveToTheWorkingFolder) {
  EXPECT_EQ(qmr::resolvePath("C:\\QMR\\VELDA.INP      "), "VELDA.INP");
  EXPECT_EQ(qmr::resolvePath("c:\\qmr\\out\\run.lst"), "out/run.lst");
  EXPECT_EQ(qmr::resolvePath("results\\a.out"), "results/a.out");
  EXPECT_EQ(qmr::resolvePath("plain.out  "), "plain.out");
}

namespace {

// The records of a file as a reader that takes one character at a time
// sees them: lines cut at kMaxRecord columns, one trailing carriage return
// dropped, a last line without end still a record.
std::vector<std::string> recordsOf(const std::string &text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = text.find('\n', i);
    if (end == std::string::npos) end = text.size();
    std::string rec = text.substr(i, std::min(end - i, Unit::kMaxRecord));
    if (!rec.empty() && rec.back() == '\r') rec.pop_back();
    out.push_back(rec);
    i = end + 1;
  }
  return out;
}

} // namespace

TEST(UnitFiles, BlocksGiveTheRecordsOfTheWholeFile) {
  // Lines of every length around the block and record sizes, carriage
  // returns, NUL bytes and a last line without end, in a file of several
  // blocks.
  auto dir = qmrtest::scratch("blocks");
  const auto p = (dir / "records.dat").string();
  std::mt19937 rng(3);
  std::string text;
  const std::size_t lengths[] = {0,    1,     79,    4095,  4096,
                                 4097, 65535, 65536, 65537, 200000};
  for (int k = 0; k < 400; ++k) {
    std::size_t len = rng() % 3 == 0 ? lengths[rng() % 10] : rng() % 120;
    std::string line;
    for (std::size_t i = 0; i < len; ++i)
      line.push_back(
          static_cast<char>(rng() % 7 == 0 ? '\0' : 'a' + rng() % 26));
    if (rng() % 4 == 0) line.push_back('\r');
    text += line;
    text += '\n';
  }
  text += "last line\r";
  qmrtest::writeFile(p, text);
  const std::vector<std::string> want = recordsOf(text);
  Unit u;
  ASSERT_TRUE(u.openRead(p));
  std::string rec;
  std::size_t n = 0;
  while (u.next(rec)) {
    ASSERT_LT(n, want.size());
    ASSERT_EQ(rec, want[n]) << "record " << n + 1;
    ++n;
  }
  EXPECT_EQ(n, want.size());
  EXPECT_EQ(u.recno(), static_cast<long>(want.size()));
  EXPECT_FALSE(u.overlong());
  EXPECT_TRUE(u.close());
  std::filesystem::remove_all(dir);
}

TEST(UnitFiles, ALineBeyondTheLimitIsNoRecord) {
  auto dir = qmrtest::scratch("overlong");
  const auto p = (dir / "long.dat").string();
  // A line of exactly the limit is a record; one character more is not.
  std::string text = "    1\n" + std::string(Unit::kMaxLine, 'x') + "\n" +
                     std::string(Unit::kMaxLine + 1, 'y') + "\n    2\n";
  qmrtest::writeFile(p, text);
  Unit u;
  ASSERT_TRUE(u.openRead(p));
  std::string rec;
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, "    1");
  ASSERT_TRUE(u.next(rec));
  EXPECT_EQ(rec, std::string(Unit::kMaxRecord, 'x'));
  EXPECT_FALSE(u.next(rec));
  EXPECT_TRUE(u.overlong());
  EXPECT_EQ(u.recno(), 2);
  EXPECT_TRUE(u.close());
  std::filesystem::remove_all(dir);
}

TEST(UnitFiles, LinesReachTheFileInOrderThroughTheBlocks) {
  auto dir = qmrtest::scratch("write");
  const auto p = (dir / "out.dat").string();
  std::string want;
  {
    Unit u;
    ASSERT_TRUE(u.openWrite(p));
    for (int k = 0; k < 3000; ++k) {
      // Short lines, and now and then one longer than a block.
      std::string line = k % 500 == 7 ? std::string(70000 + k, 'L')
                                      : "line " + std::to_string(k);
      u.put(line);
      want += line + "\n";
    }
    EXPECT_TRUE(u.close());
  }
  EXPECT_EQ(qmrtest::readFile(p), want);
  std::filesystem::remove_all(dir);
}
