// Defined in the test program, these take the place of the C library's calls
// for the platform under test, and call on to the next definition (the
// sanitizers' interceptor, or the library's).
#include "posix/interposed.h"

#include <dlfcn.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

template<typename Function> Function* next_definition(const char* name)
{
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

// Looked up at start, never in a signal handler.
auto* const next_tcsetattr = next_definition<int(int, int, const termios*)>("tcsetattr");
auto* const next_write = next_definition<ssize_t(int, const void*, size_t)>("write");

volatile sig_atomic_t signal_at_tcsetattr = 0;
volatile sig_atomic_t failing_write_fd = -1;
volatile sig_atomic_t failing_write_error = 0;
volatile sig_atomic_t signal_at_write = 0;

}  // namespace

void interposed::raise_at_next_tcsetattr(int signal_number)
{
    signal_at_tcsetattr = signal_number;
}

void interposed::fail_next_write(int fd, int error, int signal_number)
{
    failing_write_error = error;
    signal_at_write = signal_number;
    failing_write_fd = fd;
}

extern "C" int tcsetattr(int fd, int action, const termios* mode) noexcept
{
    if (int signal_number = signal_at_tcsetattr; signal_number != 0) {
        signal_at_tcsetattr = 0;
        raise(signal_number);
    }
    return next_tcsetattr(fd, action, mode);
}

extern "C" ssize_t write(int fd, const void* bytes, size_t count)
{
    if (fd < 0 || fd != failing_write_fd)
        return next_write(fd, bytes, count);
    failing_write_fd = -1;
    if (signal_at_write != 0)
        raise(signal_at_write);
    errno = failing_write_error;
    return -1;
}
