// The console: the one reader of the user's answers and the one writer to the
// screen. Answers are whole lines read with C stdio; each is parsed as one
// free-form item in the manner of a list-directed read. An unreadable answer
// writes the whole question block again and reads again, without limit; end
// of input while an answer or Return is awaited ends the run (kavrel::Fatal).
//
// Rules for an answer line (a CR before the LF is dropped; tabs count as blanks):
// - An item starts at the first non-blank character and ends at a blank, a
//   comma or a slash. Anything after the item is ignored.
// - A blank line, or a line whose item is empty ("," or "/"), is unreadable:
//   there is no previous value to keep, so the block is shown again.
// - Logical: an optional '.', then t or f in any case; the rest of the item is
//   ignored (.true., T, false, .f all read). Any other first letter is unreadable.
// - Integer: optional sign and decimal digits only, within 32 bits ("12abc",
//   "3.0" and "1e3" are unreadable for an integer).
// - Real: optional sign, digits with an optional '.', an optional exponent
//   marked e, E, d or D ("3", "3.", ".5", "1e3", "1.5d0"); values outside the
//   single-precision range, inf and nan are unreadable.
// - Numbers and logicals may carry a repeat count "r*value" (the value is used).
// - Text: up to the first blank, comma or slash; or, when it begins with a
//   single (or double) quote, everything up to the matching closing quote, a
//   doubled quote inside standing for one quote. A missing closing quote, an
//   empty item and an empty quoted text ('') are unreadable.
// - An answer line is at most kMaxAnswerBytes long: a longer one is read to
//   its end, dropped, and asked again with a line saying so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// Message of the Fatal thrown when input ends while an answer is awaited.
inline constexpr const char* kEndOfInputMessage =
    "End of input while an answer was awaited: the run ends here.";

// Longest answer line kept; a longer one is refused and asked again.
inline constexpr std::size_t kMaxAnswerBytes = 4096;

// The line shown when an answer line is too long.
inline constexpr const char* kAnswerTooLong =
    " The answer is longer than 4096 bytes; enter a shorter one.";

// The line shown when a read format is typed without its quotes.
inline constexpr const char* kFormatInQuotes =
    " A read format goes in single quotes, e.g. '(50x,i3)'.";

// The usual pause line.
inline constexpr const char* kHitReturn = " Hit RETURN to Continue";

class Console {
 public:
  // Reads answers from `in` and writes to `out` (not owned, not closed).
  explicit Console(std::FILE* in = stdin, std::FILE* out = stdout);

  // Each ask writes `block` exactly as given (its last line is the prompt and
  // normally ends without a newline), flushes, reads one line and parses one
  // item; an unreadable answer writes the block again and reads again.
  // End of input throws Fatal(kEndOfInputMessage).
  bool askLogical(std::string_view block);
  int32_t askInteger(std::string_view block);
  float askReal(std::string_view block);
  std::string askText(std::string_view block);
  // A text answer that must be given whole: one typed without quotes that
  // holds a blank, comma or slash (e.g. (10x,i3), which would read as
  // "(10x") writes kFormatInQuotes and the block again and reads again.
  std::string askQuotedText(std::string_view block);

  // Writes `line` and a newline, flushes and waits for Return (any line).
  // End of input throws Fatal(kEndOfInputMessage).
  void pause(std::string_view line = kHitReturn);

  // Flushes the screen and returns the next raw input line without its line
  // end, for callers that parse themselves (menus where "" or "/" matters).
  // End of input ends the line left open by a prompt, then throws
  // Fatal(kEndOfInputMessage) (as every ask and pause does).
  std::string readLine();

  // Like readLine, but returns nothing at end of input instead of throwing.
  std::optional<std::string> tryReadLine();

  // Writes text as is / text and a newline to the screen.
  void write(std::string_view text);
  void writeLine(std::string_view text);
  void flush();

  std::FILE* in() const { return in_; }
  std::FILE* out() const { return out_; }

 private:
  // The next line; at most kMaxAnswerBytes are kept, and a longer line comes
  // back empty with tooLong set. Nothing at end of input.
  std::optional<std::string> readBoundedLine(bool& tooLong);

  std::FILE* in_;
  std::FILE* out_;
  bool atLineStart_ = true;  // the last text written through this console ended a line
};

// The process-wide console over stdin and stdout.
Console& stdConsole();

// Parsers of one free-form item from an answer line, as described above;
// nothing when the line can't be read as that type.
std::optional<bool> parseLogical(std::string_view line);
std::optional<int32_t> parseInteger(std::string_view line);
std::optional<float> parseReal(std::string_view line);
std::optional<std::string> parseText(std::string_view line);

// A name typed at a prompt that reads the raw line (the plot menu's save
// name): the line without blanks around it and without one pair of enclosing
// quotes, as parseText reads a quoted answer; empty for a line holding
// nothing or an unreadable quoted text ('' or no closing quote).
std::string unquotedAnswer(std::string_view line);

}  // namespace kavrel
