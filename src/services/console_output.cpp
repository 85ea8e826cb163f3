// Console text output: on a console the text goes straight into the screen
// buffer as cells, with the cursor, wrapping, scrolling and window moves done
// here; otherwise the bytes go to standard output unchanged.
#include "services/console_output.h"

#include <algorithm>

#include "services/print_context.h"
#include "services/service_state.h"
#include "services/std_handles.h"

platform::Handle std_out_handle = nullptr;

namespace {

struct ConsoleView {
    int16_t left;
    int16_t top;
    int16_t right;  // the buffer's right edge, not the window's
    int16_t bottom;
};

constexpr char LINE_END[] = { '\r', '\n' };
constexpr int32_t REGION_FIRST = 1;
constexpr int32_t FALLBACK_WIDTH = 80;
constexpr int32_t FALLBACK_HEIGHT = 25;
constexpr uint16_t FALLBACK_ATTRIBUTE = 7;

ConsoleView view{};
bool view_read = false;
int32_t region_last = 0;
bool region_fixed = false;
// The last request ended in the work area's bottom-right cell; the next one
// scrolls first.
bool wrap_pending = false;

void refresh_view()
{
    platform::ScreenBufferInfo info;
    if (platform::get_screen_buffer_info(std_out_handle, &info))
        view = ConsoleView{ 0, info.window.top, static_cast<int16_t>(info.size.x - 1), info.window.bottom };
    else
        view = ConsoleView{};
}

int32_t view_height()
{
    return view.bottom - view.top + 1;
}

// A one-column buffer or a one-row window cannot hold the layout, and is
// written to like redirected output.
bool console_mode()
{
    return view.right > view.left && view.bottom > view.top;
}

void write_stream(const char* bytes, std::size_t count)
{
    while (count > 0) {
        uint32_t chunk = static_cast<uint32_t>(std::min<std::size_t>(count, UINT32_MAX));
        uint32_t written = 0;
        // A write that takes nothing ends the request like a failure would;
        // repeating it could go on for ever.
        if (!platform::write_file(std_out_handle, bytes, chunk, &written) || written == 0)
            return;
        written = std::min(written, chunk);
        bytes += written;
        count -= written;
    }
}

PrintContext make_context()
{
    PrintContext context{};
    context.area = WorkArea{ view.left, view.top + REGION_FIRST - 1, view.right, view.top + region_last - 1 };
    context.whole_window = REGION_FIRST == 1 && region_last == view_height();
    platform::ScreenBufferInfo info;
    if (platform::get_screen_buffer_info(std_out_handle, &info)) {
        context.buffer_width = info.size.x;
        context.buffer_height = info.size.y;
        context.attribute = info.attributes;
        context.column = info.cursor.x;
        context.row = info.cursor.y;
    } else {
        context.buffer_width = FALLBACK_WIDTH;
        context.buffer_height = FALLBACK_HEIGHT;
        context.attribute = FALLBACK_ATTRIBUTE;
        context.column = context.area.left;
        context.row = context.area.top;
    }
    // A window made shorter and moved down since the region was fixed would
    // put the region's last rows below the buffer, where every later line
    // would be lost; output then scrolls within the rows the buffer has.
    context.area.bottom = std::min(context.area.bottom, context.buffer_height - 1);
    return context;
}

void write_console(const char* bytes, std::size_t count)
{
    if (!region_fixed) {
        region_last = view_height();
        region_fixed = true;
    }
    PrintContext context = make_context();
    const WorkArea& area = context.area;
    const int32_t start_top = area.top;
    if (wrap_pending) {
        wrap_pending = false;
        context.row += 1;
        context.column = area.left;
        if (context.row > area.bottom)
            scroll_lines(context, context.row - area.bottom);
    }
    print_chars(context, bytes, count);
    if (context.column == area.left && context.row == area.bottom + 1) {
        wrap_pending = true;
        context.column = area.right;
        context.row = area.bottom;
    } else if (context.row > area.bottom) {
        scroll_lines(context, context.row - area.bottom);
    }
    // Failures of the cursor and window calls are ignored: the text is
    // already in the buffer.
    platform::set_cursor_position(
        std_out_handle, platform::Coord{ static_cast<int16_t>(context.column), static_cast<int16_t>(context.row) });
    if (context.whole_window && area.top != start_top) {
        platform::set_window_info(std_out_handle, true,
            platform::Rect{ static_cast<int16_t>(area.left), static_cast<int16_t>(area.top),
                static_cast<int16_t>(area.right), static_cast<int16_t>(area.bottom) });
    }
    refresh_view();
}

}  // namespace

void console_write(const char* bytes, std::size_t count)
{
    if (count == 0)
        return;
    if (!view_read) {
        refresh_view();
        view_read = true;
    }
    if (console_mode())
        write_console(bytes, count);
    else
        write_stream(bytes, count);
}

void print_line(std::string_view text)
{
    if (!text.empty())
        console_write(text.data(), text.size());
    console_write(LINE_END, sizeof LINE_END);
}

void reset_console_output()
{
    view = ConsoleView{};
    view_read = false;
    region_last = 0;
    region_fixed = false;
    wrap_pending = false;
}
