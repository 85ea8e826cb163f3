// Console handles, modes, screen buffer and input: KERNEL32 and USER32.
#include <cctype>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace platform {

static_assert(sizeof(CharCell) == sizeof(CHAR_INFO));

namespace {

CtrlHandler installed_handler = nullptr;

BOOL WINAPI ctrl_trampoline(DWORD ctrl_type)
{
    return installed_handler && installed_handler(ctrl_type) ? TRUE : FALSE;
}

COORD to_coord(Coord c)
{
    return COORD{ c.x, c.y };
}

SMALL_RECT to_rect(const Rect& r)
{
    return SMALL_RECT{ r.left, r.top, r.right, r.bottom };
}

Rect from_rect(const SMALL_RECT& r)
{
    return Rect{ r.Left, r.Top, r.Right, r.Bottom };
}

void from_record(const INPUT_RECORD& in, InputRecord* out)
{
    out->event_type = in.EventType;
    out->key = KeyEvent{};
    if (in.EventType == KEY_EVENT) {
        const KEY_EVENT_RECORD& key = in.Event.KeyEvent;
        out->key = KeyEvent{ key.bKeyDown != FALSE, key.wRepeatCount, key.wVirtualKeyCode, key.wVirtualScanCode,
            static_cast<uint8_t>(key.uChar.AsciiChar), key.dwControlKeyState };
    }
}

}  // namespace

Handle get_std_handle(int32_t which)
{
    return GetStdHandle(static_cast<DWORD>(which));
}

bool get_console_mode(Handle handle, uint32_t* mode)
{
    DWORD value = 0;
    if (!GetConsoleMode(handle, &value))
        return false;
    *mode = value;
    return true;
}

bool set_console_mode(Handle handle, uint32_t mode)
{
    return SetConsoleMode(handle, mode) != FALSE;
}

bool write_file(Handle handle, const void* bytes, uint32_t count, uint32_t* written)
{
    DWORD done = 0;
    BOOL ok = WriteFile(handle, bytes, count, &done, nullptr);
    *written = done;
    return ok != FALSE;
}

bool get_screen_buffer_info(Handle handle, ScreenBufferInfo* info)
{
    CONSOLE_SCREEN_BUFFER_INFO raw;
    if (!GetConsoleScreenBufferInfo(handle, &raw))
        return false;
    *info = ScreenBufferInfo{ Coord{ raw.dwSize.X, raw.dwSize.Y },
        Coord{ raw.dwCursorPosition.X, raw.dwCursorPosition.Y }, raw.wAttributes, from_rect(raw.srWindow),
        Coord{ raw.dwMaximumWindowSize.X, raw.dwMaximumWindowSize.Y } };
    return true;
}

bool write_console_output(Handle handle, const CharCell* cells, Coord cells_size, Coord cells_origin, Rect* region)
{
    SMALL_RECT target = to_rect(*region);
    BOOL ok = WriteConsoleOutputA(
        handle, reinterpret_cast<const CHAR_INFO*>(cells), to_coord(cells_size), to_coord(cells_origin), &target);
    *region = from_rect(target);
    return ok != FALSE;
}

bool scroll_screen_buffer(Handle handle, const Rect& scroll, const Rect* clip, Coord destination, const CharCell& fill)
{
    SMALL_RECT scroll_rect = to_rect(scroll);
    SMALL_RECT clip_rect{};
    if (clip)
        clip_rect = to_rect(*clip);
    CHAR_INFO fill_cell;
    fill_cell.Char.UnicodeChar = 0;
    fill_cell.Char.AsciiChar = static_cast<CHAR>(fill.ch);
    fill_cell.Attributes = fill.attributes;
    return ScrollConsoleScreenBufferA(
               handle, &scroll_rect, clip ? &clip_rect : nullptr, to_coord(destination), &fill_cell)
        != FALSE;
}

bool fill_output_attribute(Handle handle, uint16_t attribute, uint32_t count, Coord start, uint32_t* written)
{
    DWORD done = 0;
    BOOL ok = FillConsoleOutputAttribute(handle, attribute, count, to_coord(start), &done);
    *written = done;
    return ok != FALSE;
}

bool fill_output_character(Handle handle, char ch, uint32_t count, Coord start, uint32_t* written)
{
    DWORD done = 0;
    BOOL ok = FillConsoleOutputCharacterA(handle, ch, count, to_coord(start), &done);
    *written = done;
    return ok != FALSE;
}

bool set_cursor_position(Handle handle, Coord position)
{
    return SetConsoleCursorPosition(handle, to_coord(position)) != FALSE;
}

bool set_window_info(Handle handle, bool absolute, const Rect& window)
{
    SMALL_RECT rect = to_rect(window);
    return SetConsoleWindowInfo(handle, absolute ? TRUE : FALSE, &rect) != FALSE;
}

bool peek_console_input(Handle handle, InputRecord* record, uint32_t* count)
{
    INPUT_RECORD raw;
    DWORD n = 0;
    if (!PeekConsoleInputA(handle, &raw, 1, &n))
        return false;
    *count = n;
    if (n != 0)
        from_record(raw, record);
    return true;
}

bool read_console_input(Handle handle, InputRecord* record, uint32_t* count)
{
    INPUT_RECORD raw;
    DWORD n = 0;
    BOOL ok = ReadConsoleInputA(handle, &raw, 1, &n);
    *count = ok ? n : 0;
    if (ok && n != 0)
        from_record(raw, record);
    return ok != FALSE;
}

void sleep_ms(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

uint32_t map_virtual_key_to_char(uint32_t virtual_key)
{
    return MapVirtualKeyA(virtual_key, MAPVK_VK_TO_CHAR);
}

bool is_upper(int ch)
{
    return std::isupper(ch) != 0;
}

bool is_lower(int ch)
{
    return std::islower(ch) != 0;
}

int to_lower(int ch)
{
    return std::tolower(ch);
}

int to_upper(int ch)
{
    return std::toupper(ch);
}

bool set_ctrl_handler(CtrlHandler handler, bool add)
{
    if (add)
        installed_handler = handler;
    return SetConsoleCtrlHandler(ctrl_trampoline, add ? TRUE : FALSE) != FALSE;
}

}  // namespace platform
