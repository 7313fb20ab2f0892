// Shared internals of the host library (not installed).
#pragma once

#include "krm_host_testing.h"

namespace krm_host {

// Failure switches of the testing interface: every service calls this once per call, first;
// true means "fail this call as the service fails". Also counts the call.
bool shouldFail(KrmService service);

// Counters of the testing interface.
enum class Counter { OpenFiles, OpenStorages, OpenStreams, OpenLogs, OutstandingBlocks, OutputStreams };
void count(Counter counter, int delta);

// libgsf initialisation, done once per process before any thread uses libgsf (also installs the
// GLib log handler that keeps libgsf's warnings off the terminal).
void ensureGsfInitialised();

} // namespace krm_host
