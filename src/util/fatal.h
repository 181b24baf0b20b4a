// The one exception type for conditions that end the program. Routines raise
// it instead of exiting, so that every routine stays testable; main() catches
// it, writes the message, closes the run log and exits non-zero.
#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

class Fatal : public std::runtime_error {
 public:
  // message: the text shown on the screen (and in the log) before the end.
  // pauseForReturn: show " Hit RETURN to Continue" and wait before ending.
  explicit Fatal(const std::string& message, bool pauseForReturn = false, int exitStatus = 1)
      : std::runtime_error(message), pause_(pauseForReturn), status_(exitStatus) {}

  bool pauseForReturn() const noexcept { return pause_; }
  int exitStatus() const noexcept { return status_; }

 private:
  bool pause_;
  int status_;
};

}  // namespace kavrel
