// The orderly end of the process.
#pragma once

#include <cstdint>

// Runs the at-exit list and ends the process with the status.
[[noreturn]] void end_process(int32_t status);
