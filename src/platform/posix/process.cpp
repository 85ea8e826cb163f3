// Process-wide calls: current directory, at-exit list and exit. The start-up
// services of the Windows runtime have no counterpart here: faults keep the
// system's default (they end the process) and the floating-point unit keeps
// the state the process starts with.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/list_file.h"
#include "platform/posix/names.h"
#include "platform/posix/options.h"
#include "platform/posix/posix_support.h"

namespace platform {

namespace {

constexpr std::size_t FIRST_DIRECTORY_BUFFER = 1024;
constexpr int STD_DESCRIPTORS = 3;

bool closed_at_start[STD_DESCRIPTORS] = {};

// The start folder as the main sequence has it, which the search takes for
// the folder it stands for.
posix::StartFolder handed_out;

// A standard descriptor closed by the caller (`>&-`) would be the next one
// that open() hands out: the list file would take it, and the console text
// written to standard output would land in the list. Each closed one is held
// on /dev/null; the handle of a closed standard stream stays null.
void hold_closed_std_descriptors()
{
    for (int fd = 0; fd < STD_DESCRIPTORS; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closed_at_start[fd] = true;
        // The lower descriptors are open by now, so this one is the lowest free.
        int held = open("/dev/null", O_RDWR);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

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

bool is_lead_byte(uint8_t byte)
{
    return posix::names().is_lead_byte(byte);
}

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
        handed_out = posix::StartFolder{ std::move(text), std::move(native) };
        return needed - 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int at_exit(void (*function)())
{
    return std::atexit(function);
}

// The main sequence ends every run with 0. A run given options tells a
// script whether its list was written whole.
void exit_process(int32_t status)
{
    if (status == 0 && posix::options().given && posix::list_failed())
        status = posix::LIST_FAILURE_STATUS;
    std::exit(status);
}

// A console application: output to a pipe whose reader has gone fails like a
// WriteFile to a broken pipe, instead of ending the process mid-walk with the
// list file's buffered bytes lost.
void set_app_type(int)
{
    hold_closed_std_descriptors();
    std::signal(SIGPIPE, SIG_IGN);
}

void set_fault_filter(FaultFilter) { }

void reset_fpu() { }

uint32_t control_fp(uint32_t, uint32_t)
{
    return 0;
}

SignalHandler set_signal(int signal_number, SignalHandler handler)
{
    return std::signal(signal_number, handler);
}

void cexit_and_exit_process(int32_t status)
{
    std::exit(status);
}

namespace posix {

bool std_descriptor_was_closed(int fd)
{
    return fd >= 0 && fd < STD_DESCRIPTORS && closed_at_start[fd];
}

const StartFolder& start_folder()
{
    return handed_out;
}

}  // namespace posix

}  // namespace platform
