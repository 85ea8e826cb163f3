// The process start-up: prepares the process and the services, then runs the
// main sequence.
#pragma once

#include <cstdint>

// The main sequence as start-up calls it. It normally ends the process itself;
// should it return, its result becomes the exit code.
using MainSequence = int32_t (*)();

[[noreturn]] void start_process(MainSequence main_sequence);
