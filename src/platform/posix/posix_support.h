// Private to the POSIX platform: handles as file descriptors, the standard
// descriptors closed at start, the gathered echo and the signals that end the
// process.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform::posix {

// A handle is the descriptor plus one, so that no descriptor reads as null.
inline Handle handle_for_fd(int fd)
{
    return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1);
}

inline int fd_of(Handle handle)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

// Whether standard input, output or error (0, 1, 2) was closed when the
// process started; start-up then holds the descriptor on /dev/null.
bool std_descriptor_was_closed(int fd);

// The working directory as get_current_directory last handed it out: the
// text in the ANSI code page, and the path it stands for. Both empty before.
struct StartFolder {
    std::string ansi;
    std::string native;
};
const StartFolder& start_folder();

// The echo that write_file gathers goes out now. Called before every key
// wait, so that all text printed before it is out when it begins.
void write_out_echo();

// The same from the handler of a signal that ends the process; it writes out
// what is committed and touches no state. Async-signal-safe.
void write_out_echo_at_signal();

// The signals whose default ends the process, faults apart.
void ending_signals(sigset_t* set);

// Installs, once, the handler that writes out the echo and restores the
// terminal before one of those signals ends the process with its default. A
// signal that the process was started to ignore stays ignored.
void prepare_ending_signals();

}  // namespace platform::posix
