// Standard handles, output and the console calls that have no terminal
// counterpart: the screen-buffer and console-mode calls fail as they do on a
// handle that is no console, so text goes out as a plain byte stream.
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace platform {

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
    ssize_t done;
    do {
        done = write(posix::fd_of(handle), bytes, count);
    } while (done < 0 && errno == EINTR);
    if (done < 0)
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
