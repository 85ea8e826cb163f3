// Simulated console screen buffer. Standard output is not a console here:
// every screen-buffer call fails, as on a redirected handle.
#include "sim/sim.h"
#include "sim/sim_state.h"

namespace sim::detail {

void reset_console() { }

}  // namespace sim::detail

namespace platform {

using sim::detail::record;

bool get_screen_buffer_info(Handle, ScreenBufferInfo*)
{
    record("GetConsoleScreenBufferInfo");
    return false;
}

bool write_console_output(Handle, const CharCell*, Coord, Coord, Rect*)
{
    record("WriteConsoleOutputA");
    return false;
}

bool scroll_screen_buffer(Handle, const Rect&, const Rect*, Coord, const CharCell&)
{
    record("ScrollConsoleScreenBufferA");
    return false;
}

bool fill_output_attribute(Handle, uint16_t, uint32_t, Coord, uint32_t* written)
{
    record("FillConsoleOutputAttribute");
    *written = 0;
    return false;
}

bool fill_output_character(Handle, char, uint32_t, Coord, uint32_t* written)
{
    record("FillConsoleOutputCharacterA");
    *written = 0;
    return false;
}

bool set_cursor_position(Handle, Coord)
{
    record("SetConsoleCursorPosition");
    return false;
}

bool set_window_info(Handle, bool, const Rect&)
{
    record("SetConsoleWindowInfo");
    return false;
}

}  // namespace platform
