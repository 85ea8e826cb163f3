// Returns the services' process-wide state to what a fresh process has, so
// that one process can run the tool's sequence more than once (the unit tests
// do). Each service resets its own part.
#pragma once

void reset_dir_scan();
void reset_file_channels();
void reset_console_output();
void reset_key_wait();

inline void reset_service_state()
{
    reset_dir_scan();
    reset_file_channels();
    reset_console_output();
    reset_key_wait();
}
