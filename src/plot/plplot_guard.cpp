// PLplot error handling shared by every drawing: PLplot's fatal errors
// become Fatal and the messages of its aborted operations are kept, so no
// PLplot call can end the program or write to the standard error stream.
#include "plot/plplot_guard.h"

#include <plplot.h>

#include <algorithm>
#include <string>
#include <vector>

#include "util/fatal.h"

namespace kavrel {

namespace {

// Messages of PLplot's non-fatal aborts during one drawing, shown once each
// after the drawing instead of once per panel.
std::vector<std::string>& abortMessages() {
  static std::vector<std::string> messages;
  return messages;
}

// A PLplot message as one line: its line ends (PLplot ends some messages
// with one) become blanks, trailing blanks are dropped.
std::string oneLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  for (char& ch : text) {
    if (ch == '\n' || ch == '\r') ch = ' ';
  }
  const size_t last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

// PLplot calls this instead of ending the process; it must not return.
int onPlplotExit(const char* message) {
  std::string text = oneLine(message);
  if (text.empty()) text = "the plotting library ended the drawing";
  throw Fatal("PLplot error: " + text);
}

void onPlplotAbort(const char* message) {
  const std::string text = oneLine(message);
  auto& messages = abortMessages();
  if (std::find(messages.begin(), messages.end(), text) == messages.end()) {
    messages.push_back(text);
  }
}

// Routes PLplot's fatal errors and aborted operations to the handlers above.
// Needed before any PLplot call: even the list of devices may end the process.
void installPlplotHandlers() {
  plsexit(onPlplotExit);
  plsabort(onPlplotAbort);
}

// PLplot writes the text of an aborted operation here instead of to the
// standard error stream; the abort handler has already kept the message.
PLINT abortCode = 0;
char abortText[2048];

// Ends the PLplot stream after a failure; a second failure is ignored.
void endQuietly() {
  try {
    plend();
  } catch (const Fatal&) {
  }
}

// Whether PLplot offers the device; with fileOnly, among its file devices.
bool deviceListed(const std::string& name, bool fileOnly) {
  constexpr int kMaxDevices = 128;
  std::vector<const char*> menus(kMaxDevices, nullptr);
  std::vector<const char*> names(kMaxDevices, nullptr);
  const char** menuPtr = menus.data();
  const char** namePtr = names.data();
  int count = kMaxDevices;
  if (fileOnly) {
    plgFileDevs(&menuPtr, &namePtr, &count);
  } else {
    plgDevs(&menuPtr, &namePtr, &count);
  }
  for (int i = 0; i < count && i < kMaxDevices; ++i) {
    if (names[static_cast<size_t>(i)] != nullptr && name == names[static_cast<size_t>(i)]) {
      return true;
    }
  }
  return false;
}

bool deviceAvailable(const std::string& name) { return deviceListed(name, false); }

}  // namespace

void guardPlotStream() {
  installPlplotHandlers();
  abortMessages().clear();
  plsError(&abortCode, abortText);
}

std::vector<std::string> takePlotWarnings() {
  std::vector<std::string> kept;
  kept.swap(abortMessages());
  return kept;
}

void endPlotStreamQuietly() { endQuietly(); }

bool plotDeviceAvailable(const std::string& device) { return deviceAvailable(device); }

bool plotFileDeviceAvailable(const std::string& device) { return deviceListed(device, true); }

}  // namespace kavrel
