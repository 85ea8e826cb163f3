// Private to the simulated platform: the state its files share.
#pragma once

#include <string>

#include "platform/platform.h"
#include "sim/sim.h"

namespace sim::detail {

// The simulated standard input handle, read without logging a call.
platform::Handle std_input();

// Appends to the call log.
void record(const char* call);

// True if the test's hook makes this call on standard output fail.
bool output_call_fails(OutputCall call);

// Each part of the simulation clears its own state from sim::reset().
void reset_console();
void reset_input();
void reset_frame();

}  // namespace sim::detail
