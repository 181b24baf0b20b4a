// The curve-fit option menu: lists the curve types the detrending dispatcher
// offers, reads the option code and, for the smoothers, the one parameter each
// needs (super smoother alpha, lowess or median window, starting stiffness of
// the age-dependent spline). The choices persist for the rest of the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fit/detrend2.h"

namespace kavrel {

class Console;

// Exit status when the user ends the program with "/" at the tweeter or
// stiffness prompt. The files of the last completed pass are whole and nothing
// more is written, but the run did not reach its normal end (and the revision
// asked for was not made), so the status is non-zero and differs from that of
// a failed run (1) and of a usage error (2).
inline constexpr int kMenuStopExitStatus = 3;

// Width of the answer text of the tweeter and stiffness prompts; a longer
// answer is cut to it.
inline constexpr std::size_t kMenuAnswerWidth = 10;
// Width of the format text built by intfrm.
inline constexpr std::size_t kMenuFormatWidth = 20;

// Shows the menu and reads the answers until a valid choice is complete.
// Returns the option code typed. Sets, by code:
//   -5  span and fitParam to the tweeter alpha 0..9 (empty answer: 7)
//   -4  span to the lowess window (3 or more, or -100..-1 percent)
//   -3  span and fitParam to the median window (odd, 3 or more, or -100..-1)
//   -2  startStiffness to the spline's starting stiffness (empty answer: 75)
// and leaves every other setting as it was (settings.option is not touched).
// Throws Fatal("", false, kMenuStopExitStatus) when a tweeter or stiffness
// answer begins with "/", and Fatal on end of input.
int32_t rcdrvr(Console& console, DetrendOptions& settings);

// The menu's rules for the answers of its questions. The menu uses them, and
// so do revisions given without the dialogue, so both accept the same values.
bool tweeterAdmissible(int32_t alpha);        // super smoother alpha: 0..9
bool lowessWindowAdmissible(int32_t window);  // 3 or more, or -100..-1 percent
bool medianWindowAdmissible(int32_t window);  // odd and 3 or more, or -100..-1 percent

// Checks the answer to the question of curve option `option` given as text
// instead of typed at the menu (a revision on the command line or in a
// recipe). The answer is a whole integer; empty stands for the question's
// default (alpha 7 for -5, stiffness 75 for -2). Options -4 and -3 need an
// answer, since their questions have no default; every option without a
// question (all but -5..-2) takes none. Returns the reason when the answer is
// not one the menu would accept, nothing when it is.
std::optional<std::string> curveAnswerError(int32_t option, std::string_view answer);

// Changes the fitting settings for an answer that curveAnswerError accepts,
// exactly as the menu does for the same answer; settings.option is not
// touched, as in rcdrvr. An answer curveAnswerError refuses is a programming
// error (std::bad_optional_access).
void applyCurveAnswer(int32_t option, std::string_view answer, DetrendOptions& settings);

// The answer that applyCurveAnswer turns into the settings the menu left for
// `option`: the alpha (-5), the window (-4, -3) or the starting stiffness (-2)
// held in `settings`, as text; empty for the options without a question. So a
// revision made at the menu can be given again as text, e.g. "75" for a
// stiffness answer typed as " 5".
std::string appliedCurveAnswer(int32_t option, const DetrendOptions& settings);

// Turns a typed answer into an integer read format. `text` (in/out) is moved
// left past its leading blanks, keeping as many characters as it holds
// non-blanks, the rest blank; `format` (out) becomes "(iN)" with N that count,
// blank-padded to 20 characters. "  12" gives "12" and "(i2)".
void intfrm(std::string& text, std::string& format);

// Reads the integer of an answer text with a format built by intfrm: the
// first N characters, blanks ignored. False when they are not an integer.
bool readWithIntFormat(std::string_view text, std::string_view format, int32_t& value);

// The run-log description of a curve option code; empty for the codes that
// have none (0, -1, -6..-9, 10 and above).
std::string_view curveDescription(int32_t option);

// A short ASCII name of the curve an option code fits, for notes on a page:
// "Linear", "Negative Exp.", "General Exp.", "Hugershoff", "Spline 30 yr",
// "Spline 67% n", "Age-dep. spline", "Super smoother", ...
std::string curveShortName(int32_t option);

}  // namespace kavrel
