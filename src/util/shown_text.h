// Text taken from the user or from a file, made safe to show in a message or
// write to the log: control characters escaped, long values cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavrel {

// Longest part of a bad value a message quotes.
inline constexpr std::size_t kMaxQuotedLength = 100;

// Whether `text` holds a control character (codes 0-31 and 127), which no
// file name typed in the dialogue may hold.
bool hasControlCharacter(std::string_view text);

// `text` with every control character written as an escape: \n, \t, \r and
// \xHH for the others (a NUL is \x00) and a backslash doubled, so that the
// log line reads back unambiguously.
std::string escapedText(std::string_view text);

// At most kMaxQuotedLength bytes of `text`, escaped as escapedText does,
// followed by "... (N bytes)" when it was cut.
std::string shownText(std::string_view text);

}  // namespace kavrel
