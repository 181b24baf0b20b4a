// Output layouts written with Fortran-style edit descriptors, and the
// free-format line used for the screen and the run log.
//
// formatLayout understands, case-insensitively, inside one pair of parentheses:
//   Iw, Iw.m   integer right-justified in w columns (at least m digits)
//   Fw.d       real with d decimals right-justified in w columns; the value is
//              rounded correctly from its binary value; a leading 0 before the
//              point is dropped when it does not fit
//   Aw, A      text; Aw pads on the left with blanks or keeps the first w characters
//   Lw         logical as T or F right-justified in w columns
//   nX         n blanks;  Tn, TLn, TRn  move to column n / n left / n right
//   /          ends the record (a new line)
//   'text' or "text"   literal text (a doubled quote stands for one quote)
//   r(...)     repeat counts on descriptors, slashes and groups: 3a, 10i6, 2(2x,i8), 2/
// A number too wide for its field prints as w asterisks. When the arguments
// run out, output stops at the next data descriptor (literals, blanks and
// slashes before it are still written); when arguments remain at the end of
// the layout, a new record starts at the last top-level group (or at the
// start of the layout) as in Fortran format reversion. Trailing positioning
// blanks are not written. The result holds the records separated by '\n',
// with no newline after the last one.
//
// freeLine writes like a list-directed write, with ONE rule for spacing: each
// item is preceded by one blank unless the item begins with a blank or the
// line so far ends in one (so the line always begins with a blank, and a
// label ending in a blank is followed directly by its value). Integers
// print in full, logicals as T or F, texts as they are, and reals with up to
// 7 significant digits: fixed notation with at least one decimal ("0.5",
// "3.0", "12.34", "-0.0001234") for magnitudes from 1e-4 to below 1e7, else
// scientific ("1.234568E+07"). Examples:
//   freeLine({"input file =", "gp.rwl"})            -> " input file = gp.rwl"
//   freeLine({" Lower limit = ", 0.5f})             -> " Lower limit = 0.5"
//   freeLine({3, "Skip HIGH Value", "ABC12345", 12.34f}) -> " 3 Skip HIGH Value ABC12345 12.34"
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kavrel {

// One value for a layout or a free-format line.
class FmtArg {
 public:
  using Value = std::variant<int64_t, float, double, bool, std::string>;

  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  FmtArg(T v) : value_(static_cast<int64_t>(v)) {}
  FmtArg(float v) : value_(v) {}
  FmtArg(double v) : value_(v) {}
  FmtArg(bool v) : value_(v) {}
  FmtArg(const char* v) : value_(std::string(v)) {}
  FmtArg(std::string_view v) : value_(std::string(v)) {}
  FmtArg(const std::string& v) : value_(v) {}
  FmtArg(char v) : value_(std::string(1, v)) {}

  const Value& value() const { return value_; }

 private:
  Value value_;
};

// Formats args with the layout (e.g. "(1x,a,i4)"); see above. A malformed
// layout, or an argument of the wrong kind for its descriptor, throws
// std::invalid_argument naming the layout.
std::string formatLayout(std::string_view layout, std::span<const FmtArg> args);
std::string formatLayout(std::string_view layout, std::initializer_list<FmtArg> args);

// The free-format line (without newline); see above.
std::string freeLine(std::span<const FmtArg> items);
std::string freeLine(std::initializer_list<FmtArg> items);

// A real in the free-format form (up to 7 significant digits).
std::string freeReal(double v);
// The same text appended to out, for writers of long tables.
void appendFreeReal(std::string& out, double v);

}  // namespace kavrel
