// Fixed-column numeric fields and the small read-format notation of
// header-driven blocks, as the ring-width reader needs them: integer fields
// (Iw) and real fields (Fw.d, also written Ew.d, Dw.d or Gw.d) with blanks
// ignored, skips (nX, Tn, TLn, TRn), record ends (/) and repeat counts, on
// single items and on parenthesised groups.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kavrel::rw {

// Reads an integer field: blanks anywhere are ignored, an all-blank field is
// 0, an optional sign must precede the digits. False for any other character,
// for a sign without digits and for a value beyond the int32 range.
bool readIntField(std::string_view field, int32_t& value);

// Reads a real field of a read format with `decimals` implied decimals: blanks
// are ignored, an all-blank field is 0; without a decimal point the last
// `decimals` digits are the fraction; an exponent (E, D, or a bare sign after
// the digits) is allowed. False when the field is not a number.
bool readRealField(std::string_view field, int32_t decimals, float& value);

// One edit descriptor of a read format.
struct FormatItem {
  enum class Kind { Int, Real, Skip, TabTo, TabLeft, TabRight, NextRecord };
  Kind kind;
  int32_t width = 0;     // field width, skip count or tab column
  int32_t decimals = 0;  // implied decimals of a real field
};

// A parsed read format, expanded into single items.
struct ReadFormat {
  std::vector<FormatItem> items;
  // When the items are used up and more values are wanted, reading goes on
  // with a new line from this item (the last top-level group, or the start).
  std::size_t reversion = 0;
};

// Parses a format such as "(10f8.3)", "(8(1x,f7.2))" or "(i5,2x,9i6)". Text
// after the closing parenthesis is ignored. nullopt when the text is not a
// format this reader understands, or when the part reading goes on with after
// the items are used up (from the reversion item) has no numeric field.
std::optional<ReadFormat> parseReadFormat(std::string_view text);

}  // namespace kavrel::rw
