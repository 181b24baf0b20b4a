// Pith-offset files: one integer per record, the estimated number of rings
// between the pith and the first measured ring of the series at the same
// position in the ring-width file. Records are read with a read format typed
// by the user, made of nX (skip n columns) and Iw (integer of width w) items,
// e.g. (i3) or (50x,i3).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Where the integer of a record lies.
struct PithFormat {
  int32_t skip = 0;   // columns before the field (sum of the nX items before the first Iw)
  int32_t width = 0;  // width of the integer field, at least 1
};

// Parses a read format such as "(i3)", "(50x,i3)" or "(2x,3x,i4,10x)",
// case-insensitive, blanks ignored. The first Iw item receives the value;
// items after it are accepted and ignored. Returns nothing for any other
// form and, through `why`, a short reason.
std::optional<PithFormat> parsePithFormat(std::string_view format, std::string* why = nullptr);

// Reads the integer field of one record. Blanks in the field are ignored and
// a record shorter than the field is padded with blanks, so a blank field
// reads 0. Returns false for anything but an optionally signed run of digits
// that fits in 32 bits.
bool readPithField(std::string_view record, const PithFormat& format, int32_t& value);

// Result of reading a pith-offset file.
struct PithReadResult {
  std::vector<int32_t> offsets;  // one per record read, in file order
  int32_t badRecord = 0;         // 1-based number of the first record that could not be read, or 0
  bool negative = false;  // that record holds a negative offset (else it does not fit the format)
};

// Reads records (lines ending in LF or CRLF) until end of file or maxRecords
// offsets, stopping at the first record that does not fit the format or
// holds a negative offset (a number of rings can't be negative).
PithReadResult readPithOffsets(std::FILE* file, const PithFormat& format, int32_t maxRecords);

}  // namespace kavrel
