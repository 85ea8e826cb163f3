// The process's standard handles, taken once at start-up: the key wait reads
// through the first, the console text output writes through the second.
#pragma once

#include "platform/platform.h"

extern platform::Handle std_in_handle;
extern platform::Handle std_out_handle;
