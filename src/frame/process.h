// The process frame: start-up before the main sequence, and the orderly end.
#pragma once

#include <cstdint>

// The main sequence as start-up calls it. It normally ends the process itself;
// should it return, its result becomes the exit code.
using MainSequence = int32_t (*)();

// Prepares the process and the services, then runs the main sequence.
[[noreturn]] void start_process(MainSequence main_sequence);

// Prepares the services: every one as a fresh process has it, then the
// floating-point control, the standard handles and the console input mode.
void init_services();

// Runs the at-exit list and ends the process with the status.
[[noreturn]] void end_process(int32_t status);
