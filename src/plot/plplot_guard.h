// PLplot error handling shared by every drawing. PLplot ends the process on
// its fatal errors unless handlers are installed; these turn a fatal error
// into Fatal and keep the messages of non-fatal aborted operations, so no
// PLplot call can end the program or write to the standard error stream.
#pragma once

#include <string>
#include <vector>

namespace kavrel {

// Installs the handlers and forgets earlier kept messages. Call before any
// other PLplot call of a drawing (even listing the devices may fail
// fatally), and again for each new stream.
void guardPlotStream();

// The messages of aborted operations since guardPlotStream, each once, as
// one line; the list is emptied.
std::vector<std::string> takePlotWarnings();

// Ends the PLplot stream after a failure; a second failure is ignored.
void endPlotStreamQuietly();

// Whether this PLplot build offers the device (e.g. "pngcairo").
bool plotDeviceAvailable(const std::string& device);
// Whether the device is one of this PLplot build's file devices.
bool plotFileDeviceAvailable(const std::string& device);

}  // namespace kavrel
