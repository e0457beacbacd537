// A unit: one sequential text file of records, read or written line by line.
//
// A reading unit reads its file in large blocks and hands out one record at
// a time as a view into its buffer (one trailing carriage return of a line is
// not part of the record, nor is a UTF-8 byte-order mark at the start of the
// file; a record is cut at kMaxRecord columns, which is far beyond any layout
// of the system). A writing unit collects its lines in a block handed to the
// file when full, and reports at close whether every byte reached the file.
//
// Units can also be backed by memory (a text to read, or a string that
// collects what is written), which is how the tests drive single routines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// A record of a file read with field checks, as its layout took it: the
// text, and its shape: the columns of each field ('I' integer, 'F'
// floating, 'A' text) and the part of the file it belongs to, shared by the
// records of one shape that follow each other. An expected record that the
// file did not hold has no text and is missing.
struct ReadRecord {
  struct Field {
    std::size_t col;
    std::size_t w;
    char kind;
    bool operator==(const Field &) const = default;
  };
  struct Shape {
    std::vector<Field> fields;
    std::string section; // as the unit named it when the record was read
  };
  std::string text;
  std::shared_ptr<const Shape> shape; // null for a record not logged
  bool missing = false;
};

class Unit {
public:
  static constexpr std::size_t kMaxRecord = 4096;
  // A line longer than this is no record of a text file (a device that
  // never ends a line, say): reading it stops there.
  static constexpr std::size_t kMaxLine = std::size_t{16} << 20;

  enum class Mode { Closed, Read, Write, Console, Null };

  Unit() = default;
  ~Unit();
  Unit(const Unit &) = delete;
  Unit &operator=(const Unit &) = delete;

  // --- opening -----------------------------------------------------------
  // Open an existing file for reading. Returns false (with the reason in
  // why()) when it cannot be opened.
  bool openRead(const std::string &path);
  // Create or replace a file for writing.
  bool openWrite(const std::string &path);
  // Open with status unknown: an existing file is left as it is, a missing
  // one is created empty. The file is then read from its start; the first
  // write replaces its whole content (nothing of the old content remains).
  bool openUnknown(const std::string &path);
  // Open a file that the run only reads but that keeps the open-unknown
  // rules for a later write: a missing file is not created; it reads as an
  // empty file that missing() reports.
  bool openUnknownToRead(const std::string &path);
  // Write to standard output.
  void openConsole();
  // For a run that only checks its deck and writes no file: a unit that
  // collects what is written in memory, keeping the path for the comparison
  // of names. It fails, as creating the file would, where the file's folder
  // is missing.
  bool openDiscard(const std::string &path);
  // A file the run does not write at all (--no-listing): what is written to
  // it is dropped unformatted, and a file of that name is left as it is.
  // The path is kept for the comparison of names.
  // Always succeeds (its form is that of the other openings).
  bool openNull(const std::string &path);
  bool drops() const { return mode_ == Mode::Null; }
  // Memory-backed units for tests.
  void openText(std::string name, std::string text);
  void openMemory(std::string name);

  // --- reading -------------------------------------------------------------
  // Next record. Returns false at end of file. The view stays valid until
  // the next call.
  bool next(std::string_view &rec);
  // The same, copied.
  bool next(std::string &rec);
  // The record that next() would hand out, without taking it.
  bool peek(std::string &rec);
  // Number of the record last handed out (1-based).
  long recno() const { return recno_; }

  // --- writing -------------------------------------------------------------
  void put(std::string_view line); // one line; the line end is added

  // --- closing -------------------------------------------------------------
  // Flush and close. Returns false when something written did not reach the
  // file (the reason is then in why()).
  bool close();

  bool isOpen() const { return mode_ != Mode::Closed; }
  Mode mode() const { return mode_; }
  const std::string &name() const { return name_; }
  // The file's path (empty for memory and console units).
  const std::string &path() const { return path_; }
  // What the file is to the run ("listing", "velocity file", ...).
  const std::string &role() const { return role_; }
  void setRole(std::string r) { role_ = std::move(r); }
  // True when the last record could not be handed out because its line
  // went on beyond kMaxLine characters: not a file of text records.
  bool overlong() const { return overlong_; }
  // True when the file was opened to be read but does not exist.
  bool missing() const { return missing_; }
  const std::string &why() const { return why_; }
  // What a memory unit has collected.
  const std::string &text() const { return mem_; }
  bool written() const { return written_; }
  // Description of the last failed read (file, record, columns, fault).
  const std::string &fault() const { return fault_; }
  void setFault(std::string f) { fault_ = std::move(f); }
  // The part of the file being read, as warnings and diagnostics name it
  // ("medium record of medium 1"); empty when not known.
  const std::string &section() const { return section_; }
  void setSection(std::string s) { section_ = std::move(s); }
  // Whether the reader looks at every record for values typed a column off
  // (the main input).
  bool checksFields() const { return checkFields_; }
  // True the first time only: for a warning that would otherwise repeat on
  // every record or every step.
  bool tellOnce() { return !told_ && (told_ = true); }
  // The last record a warning was given about (0 for none).
  long warnedRecord() const { return warned_; }
  void setWarnedRecord(long rec) const { warned_ = rec; }
  void setCheckFields(bool on) { checkFields_ = on; }
  // The records read so far with field checks on, record n at n - 1 (for
  // looking back at a record that went missing or was doubled).
  const std::vector<ReadRecord> &readRecords() const { return log_; }
  void logRecord(long rec, std::string_view text,
                 std::vector<ReadRecord::Field> fields, bool missing);
  // Integer fields written through this unit: off (the legacy form), an
  // integer that does not fit its field is written as asterisks; on (a run
  // beyond the legacy capacities), it is written in a field just wide
  // enough for it. Opening and closing leave the setting as it is.
  void setWidenIntegers(bool on) { widen_ = on; }
  bool widenIntegers() const { return widen_; }

private:
  bool ensureWriter();
  void fail(const std::string &what);
  bool fill();
  bool nextLong(std::string_view &rec);
  void flushBlock();
  void startBlocks();

  Mode mode_ = Mode::Closed;
  std::string name_;
  std::string path_;
  std::string why_;
  std::string fault_;
  std::string role_;
  std::string section_;
  bool checkFields_ = false;
  std::vector<ReadRecord> log_;
  bool told_ = false;
  mutable long warned_ = 0;
  bool overlong_ = false;
  bool missing_ = false;
  std::FILE *fp_ = nullptr;
  bool memory_ = false;
  bool lazy_ = false;    // openUnknown: truncated at the first write
  bool written_ = false; // something was written
  bool failed_ = false;  // a write failed
  bool widen_ = false;   // integers that do not fit widen their field
  std::string mem_;
  std::size_t memPos_ = 0;
  long recno_ = 0;
  std::unique_ptr<char[]> buf_; // the block read or being written
  std::size_t pos_ = 0;         // reading: next unread byte
  std::size_t end_ = 0;         // reading: end of the bytes read; writing: used
  bool eof_ = false;            // reading: the file has no more bytes
  std::string long_;            // the record of a line longer than a block
  std::size_t lineStart_ = 0;   // reading: where the last record began
  long longLines_ = 0;          // reading: lines longer than a block so far
};

// The file name a deck gives, as this system resolves it: trailing blanks
// trimmed, a backslash is a folder separator, and a leading "C:\QMR\" (any
// letter case) stands for the working directory.
std::string resolvePath(std::string_view deckName);

} // namespace qmr
