// Standard handles, output and the console calls that have no terminal
// counterpart: the screen-buffer and console-mode calls fail as they do on a
// handle that is no console, so text goes out as a plain byte stream, in the
// terminal's character set when it goes to a terminal.
//
// The echo is gathered and goes out in large writes: a listed file costs two
// writes, and a write(2) each made the echo the walk's largest cost. What is
// gathered goes out when the buffer is full, before every key wait (the
// terminal's key input asks for it), at exit, and from the handler of a signal
// that ends the process; on a terminal also once 50 ms have passed since the
// last write-out, so that the walk is seen going on.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/options.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/terminal_text.h"

namespace platform {

namespace {

constexpr std::size_t ECHO_BUFFER_SIZE = std::size_t{ 64 } * 1024;
constexpr int64_t TERMINAL_WRITE_OUT_NS = int64_t{ 50 } * 1000 * 1000;

// The main thread appends and writes out. The bytes before `committed` are
// whole, those before `written` are out. The handler of a signal that ends the
// process runs on the main thread, between two of its steps: it may interrupt
// an append, whose bytes are not committed yet, or a write-out, whose write it
// cuts short (the handlers do not restart calls); it then leaves the rest to
// the write-out, which ends the process once its write has returned, so that
// no byte goes out twice.
char echo[ECHO_BUFFER_SIZE];
std::atomic<std::size_t> committed{ 0 };
std::atomic<std::size_t> written{ 0 };
std::atomic<bool> writing_out{ false };
std::atomic<int> echo_fd{ -1 };
static_assert(std::atomic<std::size_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free
    && std::atomic<bool>::is_always_lock_free);

bool echo_to_terminal = false;
bool exit_write_out_registered = false;
int64_t last_write_out_ns = 0;

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Bytes that cannot be written out are dropped, as an unbuffered write that
// failed would have lost them; the next ones are tried afresh. A descriptor
// left non-blocking by the caller waits for room, as a blocking one would. A
// signal that ends the process cuts the write short, and the process then
// ends, once what goes out at once of the rest is out.
void write_out_gathered()
{
    std::size_t end = committed.load();
    if (end == 0)
        return;
    writing_out.store(true);
    std::size_t from = written.load();
    int fd = echo_fd.load();
    while (from < end && !posix::ending_signal_pending()) {
        ssize_t done = write(fd, echo + from, end - from);
        if (done < 0 && errno == EAGAIN) {
            pollfd room{ fd, POLLOUT, 0 };
            poll(&room, 1, -1);
            continue;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            break;
        from += static_cast<std::size_t>(done);
        written.store(from);
    }
    // A signal from here on writes out the rest itself.
    writing_out.store(false);
    posix::end_by_pending_signal();
    // `committed` first: a handler between the two finds nothing to write.
    committed.store(0);
    written.store(0);
    if (echo_to_terminal)
        last_write_out_ns = monotonic_ns();
}

void write_out_echo_at_exit()
{
    write_out_gathered();
}

// The echo goes to one descriptor at a time, standard output in the tool.
void gather_for(int fd)
{
    write_out_gathered();
    echo_fd.store(fd);
    echo_to_terminal = isatty(fd) == 1;
    last_write_out_ns = 0;
    if (!exit_write_out_registered) {
        exit_write_out_registered = true;
        std::atexit(write_out_echo_at_exit);
    }
    posix::prepare_ending_signals();
}

void gather(const char* bytes, std::size_t count)
{
    while (count > 0) {
        std::size_t at = committed.load();
        std::size_t taken = std::min(count, ECHO_BUFFER_SIZE - at);
        std::memcpy(echo + at, bytes, taken);
        committed.store(at + taken);
        bytes += taken;
        count -= taken;
        if (at + taken == ECHO_BUFFER_SIZE)
            write_out_gathered();
    }
}

// The converted text has a length of its own: it is gathered whole, and the
// write takes all of the caller's bytes. Throws std::bad_alloc only.
void gather_converted(std::string_view ansi)
{
    std::string shown = posix::terminal_text().convert(ansi);
    gather(shown.data(), shown.size());
}

}  // namespace

// A stream closed at start has no handle, as a Windows process started
// without that standard handle; nor has standard output under -q.
Handle get_std_handle(int32_t which)
{
    int fd = which == STD_INPUT ? STDIN_FILENO : which == STD_OUTPUT ? STDOUT_FILENO : -1;
    if (fd < 0 || posix::std_descriptor_was_closed(fd) || (fd == STDOUT_FILENO && posix::options().quiet))
        return nullptr;
    return posix::handle_for_fd(fd);
}

bool get_console_mode(Handle, uint32_t*)
{
    return false;
}

bool set_console_mode(Handle, uint32_t)
{
    return false;
}

// The bytes are taken whole into the echo; a failure to write them out later
// is not this call's.
bool write_file(Handle handle, const void* bytes, uint32_t count, uint32_t* written)
{
    *written = 0;
    int fd = posix::fd_of(handle);
    if (fd < 0)
        return false;
    if (fd != echo_fd.load())
        gather_for(fd);
    std::string_view text(static_cast<const char*>(bytes), count);
    if (echo_to_terminal && !posix::TerminalText::shown_as_is(text)) {
        try {
            gather_converted(text);
        } catch (const std::bad_alloc&) {
            return false;
        }
    } else {
        gather(text.data(), text.size());
    }
    if (echo_to_terminal && monotonic_ns() - last_write_out_ns >= TERMINAL_WRITE_OUT_NS)
        write_out_gathered();
    *written = count;
    return true;
}

bool get_screen_buffer_info(Handle, ScreenBufferInfo*)
{
    return false;
}

bool write_console_output(Handle, const CharCell*, Coord, Coord, Rect*)
{
    return false;
}

bool scroll_screen_buffer(Handle, const Rect&, const Rect*, Coord, const CharCell&)
{
    return false;
}

bool fill_output_attribute(Handle, uint16_t, uint32_t, Coord, uint32_t* written)
{
    *written = 0;
    return false;
}

bool fill_output_character(Handle, char, uint32_t, Coord, uint32_t* written)
{
    *written = 0;
    return false;
}

bool set_cursor_position(Handle, Coord)
{
    return false;
}

bool set_window_info(Handle, bool, const Rect&)
{
    return false;
}

// Key records from a terminal carry no virtual-key codes.
uint32_t map_virtual_key_to_char(uint32_t)
{
    return 0;
}

// The process never calls setlocale, so these are the C locale's classes.
bool is_upper(int ch)
{
    return std::isupper(static_cast<unsigned char>(ch)) != 0;
}

bool is_lower(int ch)
{
    return std::islower(static_cast<unsigned char>(ch)) != 0;
}

int to_lower(int ch)
{
    return std::tolower(static_cast<unsigned char>(ch));
}

int to_upper(int ch)
{
    return std::toupper(static_cast<unsigned char>(ch));
}

namespace posix {

void write_out_echo()
{
    write_out_gathered();
}

void write_out_echo_if_due()
{
    if (echo_to_terminal && committed.load() > 0 && monotonic_ns() - last_write_out_ns >= TERMINAL_WRITE_OUT_NS)
        write_out_gathered();
}

bool write_out_echo_at_signal()
{
    if (writing_out.load())
        return false;
    // Only what goes out at once: the reader of a pipe may have stopped
    // reading, and the signal must end the process all the same. A write of
    // at most PIPE_BUF bytes to a pipe with room takes them all.
    int fd = echo_fd.load();
    for (std::size_t from = written.load(), end = committed.load(); from < end;) {
        pollfd ready{ fd, POLLOUT, 0 };
        if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
            break;
        ssize_t done = write(fd, echo + from, std::min<std::size_t>(end - from, PIPE_BUF));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            break;
        from += static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace posix

}  // namespace platform
