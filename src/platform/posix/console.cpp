// Standard handles, output and the console calls that have no terminal
// counterpart: the screen-buffer and console-mode calls fail as they do on a
// handle that is no console, so text goes out as a plain byte stream, in the
// terminal's character set when it goes to a terminal.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/terminal_text.h"

namespace platform {

namespace {

// Asked once per descriptor, not once per write: the echo makes two writes a
// listed file.
bool is_terminal(int fd)
{
    static int known_fd = -1;
    static bool known_terminal = false;
    if (fd != known_fd) {
        known_terminal = isatty(fd) == 1;
        known_fd = fd;
    }
    return known_terminal;
}

bool write_some(int fd, const void* bytes, std::size_t count, std::size_t* written)
{
    ssize_t done;
    do {
        done = write(fd, bytes, count);
    } while (done < 0 && errno == EINTR);
    if (done < 0)
        return false;
    *written = static_cast<std::size_t>(done);
    return true;
}

// The converted text has a length of its own, so it goes out whole and the
// write takes all of the caller's bytes, or fails.
bool write_to_terminal(int fd, const void* bytes, uint32_t count, uint32_t* written)
{
    std::string shown;
    try {
        shown = posix::terminal_text().convert(std::string_view(static_cast<const char*>(bytes), count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t at = 0; at < shown.size();) {
        std::size_t done = 0;
        if (!write_some(fd, shown.data() + at, shown.size() - at, &done) || done == 0)
            return false;
        at += done;
    }
    *written = count;
    return true;
}

}  // namespace

// A stream closed at start has no handle, as a Windows process started
// without that standard handle.
Handle get_std_handle(int32_t which)
{
    int fd = which == STD_INPUT ? STDIN_FILENO : which == STD_OUTPUT ? STDOUT_FILENO : -1;
    if (fd < 0 || posix::std_descriptor_was_closed(fd))
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

bool write_file(Handle handle, const void* bytes, uint32_t count, uint32_t* written)
{
    *written = 0;
    int fd = posix::fd_of(handle);
    if (is_terminal(fd) && !posix::TerminalText::shown_as_is(std::string_view(static_cast<const char*>(bytes), count)))
        return write_to_terminal(fd, bytes, count, written);
    std::size_t done = 0;
    if (!write_some(fd, bytes, count, &done))
        return false;
    *written = static_cast<uint32_t>(done);
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

}  // namespace platform
