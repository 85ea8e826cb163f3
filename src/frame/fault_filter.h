// The process-wide fault filter: maps hardware faults to the runtime
// library's signals.
#pragma once

#include <cstdint>

inline constexpr int32_t EXCEPTION_CONTINUE_EXECUTION = -1;
inline constexpr int32_t EXCEPTION_CONTINUE_SEARCH = 0;

// Called by the platform for a fault that nothing else handles.
int32_t fault_filter(uint32_t exception_code);
