// What the fitting routines have to tell their caller: the lines to show
// (in the order they arose) and, when a fit cannot go on, a failure. The
// routines never write to the console or end the program; fitSeries turns a
// failure into a failed FitResult.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavrel {

// Lines collected during one fit; each is shown as one line.
struct FitNotes {
  std::vector<std::string> lines;
  // Waits for Return the caller owes: each entry is the number of lines shown
  // before the wait.
  std::vector<size_t> pauses;
};

// Adds a line when the caller collects them (notes may be null).
inline void note(FitNotes* notes, std::string line) {
  if (notes != nullptr) notes->lines.push_back(std::move(line));
}

// Asks the caller to wait for Return after the lines so far.
inline void notePause(FitNotes* notes) {
  if (notes != nullptr) notes->pauses.push_back(notes->lines.size());
}

// The lines as a screen shows them, each ending in a newline.
inline std::string notesText(const FitNotes& notes) {
  std::string text;
  for (const std::string& line : notes.lines) text += line + '\n';
  return text;
}

// A condition under which no curve can be fitted (a capacity exceeded, no
// usable value). Raised inside the fitting routines and caught by fitSeries.
class FitFailure : public std::runtime_error {
 public:
  // blankLineFirst: an empty line is shown before the message.
  FitFailure(const std::string& message, bool pause, bool blankLineFirst = false)
      : std::runtime_error(message), pause_(pause), blankLineFirst_(blankLineFirst) {}
  bool pause() const { return pause_; }
  bool blankLineFirst() const { return blankLineFirst_; }

 private:
  bool pause_;
  bool blankLineFirst_;
};

}  // namespace kavrel
