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

// The signals of a set held off for the object's lifetime, so that their
// handlers never run in the middle of what the main thread does meanwhile.
class SignalsHeld {
public:
    explicit SignalsHeld(const sigset_t& held) { sigprocmask(SIG_BLOCK, &held, &before_); }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t before_;
};

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

// The same on a terminal once 50 ms have passed since the last write-out:
// called before each folder is read, so that the walk is seen going on even
// while a large folder holds it up.
void write_out_echo_if_due();

// The same from the handler of a signal that ends the process, for what can
// go out without waiting. False, with nothing written, while the main thread
// is writing out: it then ends the process itself. Async-signal-safe.
bool write_out_echo_at_signal();

// Whether a signal that ends the process came during a write-out; and the end
// it calls for, once the write-out is done (nothing when none came).
bool ending_signal_pending();
void end_by_pending_signal();

// Installs, once, the handler that writes out the echo, restores the
// terminal and removes an unfinished list file before a signal ends the
// process with its default; a signal that the process was started to ignore
// stays ignored. A fault only restores the terminal and removes that file:
// after one, nothing else the process holds can be trusted.
void prepare_ending_signals();

}  // namespace platform::posix
