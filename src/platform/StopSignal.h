// The stop flag `Terminated`: set by SIGINT, SIGTERM and SIGHUP (the console control events),
// read by every stage. Waits that must end on a stop request poll `StopEventDescriptor()`.
#pragma once

#include <chrono>

namespace orvex {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP and ignores SIGPIPE.
void InstallStopSignalHandlers();

bool Terminated();
void RequestStop();  // what the handlers do; also used by tests
void ResetStopRequest();

// A descriptor that becomes readable once a stop is requested (for poll()).
int StopEventDescriptor();

// Sleeps up to `timeout`; returns true at once when a stop is (or already was) requested.
bool WaitForStop(std::chrono::milliseconds timeout);

}  // namespace orvex
