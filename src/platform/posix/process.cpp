// Process-wide calls: current directory, at-exit list and exit. The start-up
// services of the Windows runtime have no counterpart here: faults keep the
// system's default (they end the process) and the floating-point unit keeps
// the state the process starts with.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/names.h"

namespace platform {

namespace {

constexpr std::size_t FIRST_DIRECTORY_BUFFER = 1024;

// The working directory in UTF-8; empty when it cannot be read.
std::string working_directory()
{
    std::vector<char> buffer(FIRST_DIRECTORY_BUFFER);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

const char PATH_SEPARATOR = '/';

uint32_t get_current_directory(uint32_t buffer_size, char* buffer)
{
    try {
        std::string native = working_directory();
        if (native.empty())
            return 0;
        std::string text = posix::names().to_ansi(native);
        if (text.size() >= UINT32_MAX)
            return 0;
        auto needed = static_cast<uint32_t>(text.size() + 1);
        if (needed > buffer_size)
            return needed;
        std::memcpy(buffer, text.c_str(), needed);
        return needed - 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int at_exit(void (*function)())
{
    return std::atexit(function);
}

void exit_process(int32_t status)
{
    std::exit(status);
}

// A console application: output to a pipe whose reader has gone fails like a
// WriteFile to a broken pipe, instead of ending the process mid-walk with the
// list file's buffered bytes lost.
void set_app_type(int)
{
    std::signal(SIGPIPE, SIG_IGN);
}

void set_fault_filter(FaultFilter) { }

void reset_fpu() { }

uint32_t control_fp(uint32_t, uint32_t)
{
    return 0;
}

void fetch_main_args() { }

SignalHandler set_signal(int signal_number, SignalHandler handler)
{
    return std::signal(signal_number, handler);
}

void cexit_and_exit_process(int32_t status)
{
    std::exit(status);
}

}  // namespace platform
