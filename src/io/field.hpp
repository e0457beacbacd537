// Single fixed-column fields: the text of one I, E, F or A field written from
// a value, and the value read from the text of one I, E or F field. The
// layout engine (layout.cpp) strings them together into records.
//
// Writing produces exactly w columns at `out` and returns `out + w`; the
// caller provides the room. Every form is correctly rounded from the exact
// binary value, ties to even, the same on every platform.
//
// Reading takes the columns of the field that stand in the record (the
// columns beyond the end of a short record are blanks, which are ignored
// anyway) and returns false with the fault in `why` when the text is not
// a number of the field's type.
#pragma once

#include <string_view>

namespace qmr::field {

// Iw: right-justified, w asterisks when it does not fit.
// With `widen`, an integer that does not fit takes exactly the columns it
// needs instead of asterisks (a run beyond the legacy capacities).
char *writeI(char *out, int v, int w, bool widen = false);
// Ew.d: [-]0.ddddE+xx, or [-]0.dddd+xxx for a three-digit exponent; one
// column short drops the leading zero; shorter still gives asterisks. Zero
// (of either sign) is written without a sign.
char *writeE(char *out, double v, int w, int d);
// Fw.d: [-]iii.ddd (no point when d is 0); a value that rounds to zero has
// no sign; asterisks when it does not fit.
char *writeF(char *out, double v, int w, int d);
// Aw: right-justified when w is at least the text's length, else its first
// w characters.
char *writeA(char *out, std::string_view t, int w);

// The fault of a floating field whose value is beyond the range of a double.
extern const char *const kTooLarge;

// Iw: an optional sign followed by digits, blanks ignored.
bool readInt(std::string_view field, int &out, const char *&why);
// Fw.d and Ew.d: sign, digits with or without a point, an exponent (E or D
// with an optional sign, or a sign alone); without a point the last d
// digits are the fraction. Blanks ignored. A value below the smallest
// double reads as zero; one beyond the largest fails with kTooLarge.
bool readReal(std::string_view field, int d, double &out, const char *&why);

} // namespace qmr::field
