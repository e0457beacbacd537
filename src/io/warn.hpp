// Warnings: one line each on standard error about a deck that reads but is
// most likely not what its writer meant (a value shifted into the next
// field, a coordinate that goes backwards, ...). A warning never changes an
// output file, the exit status or standard output.
//
//   qmr: warning: VELDA.INP, record 12, columns 11-20 (medium record of
//   medium 1): ...
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "io/unit.hpp"

namespace qmr {

// Writes one warning about record `rec` of `u`, columns col1..col2 (1-based;
// col1 = 0 for the whole record), in the section the unit is reading.
void warn(const Unit &u, long rec, std::size_t col1, std::size_t col2,
          std::string_view message);
// The same with the columns of field `field` (1-based) of a record of
// fields `width` columns wide that starts at column `first`.
void warnField(const Unit &u, long rec, int field, int width,
               std::string_view message, int first = 1);

// One line about the run itself (not about a record), on the same stream:
// "qmr: " and the message.
void notice(std::string_view message);

// Where warnings go: standard error, or (for tests) the end of a text.
void setWarningSink(std::string *sink);

// "; see the warning about record N above" after a diagnostic that may be
// the consequence of the last warning given about a record of `u`; empty
// when none was given.
std::string seeWarning(const Unit &u);

// A text as it can be quoted in a message: control characters shown as
// \t, \r or \xNN, everything else as it is.
std::string visible(std::string_view text);

// One numeric field of a record as the reader took it: its first column
// (0-based), its width and whether it is an integer field.
struct FieldSpan {
  std::size_t col;
  std::size_t w;
  bool integer;
};

// Warns about numbers that straddle the boundary of two fields of a record
// (non-blank text on both sides of a boundary that would read as one
// number), digits separated by blanks inside one field, and a number just
// beyond the last field read: the marks of a record typed a column off.
// At most one warning per record.
void checkFields(const Unit &u, long rec, std::string_view text,
                 std::span<const FieldSpan> fields);

// What the text of a record that could not be read as the section expects
// looks like, as a hint to add to the diagnostic ("; the record looks like
// a file name: ..."), and the warning given earlier about this file, if any.
// Empty when there is nothing to say.
// `field` is the text of the field that failed, `integer` whether it is an
// integer field.
std::string blame(const Unit &u, std::string_view rec, std::string_view field,
                  bool integer, bool endOfFile);

// The record of `u` that most likely went missing or was typed twice, as a
// hint to add to a diagnostic about the deck ("; is a record missing just
// before record 14?"), found by looking back over the records read with
// field checks: empty when no such mistake explains the deck better than
// the reading as it went. `faultRec` is the record whose value was
// rejected, 0 when the last record read (or missed) is at fault.
std::string lookBack(const Unit &u, long faultRec = 0);

} // namespace qmr
