// Console text output: on a console the text goes straight into the screen
// buffer as cells, with the cursor, wrapping, scrolling and window moves done
// here; otherwise the bytes go to standard output unchanged.
//
// A console-mode request runs in three layers: the request itself (the view,
// the context, the deferred wrap), the character interpreter that places runs
// of bytes and moves the cursor for CR and LF, and the two device operations,
// writing cells and scrolling rows, through which alone the interpreter
// reaches the console.
#include "services/console_output.h"

#include <algorithm>

#include "platform/platform.h"
#include "services/std_handles.h"

platform::Handle std_out_handle = nullptr;

namespace {

constexpr std::size_t RUN_MAX = 256;

struct WorkArea {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The state of one console-mode request.
struct PrintContext {
    int32_t buffer_width;
    int32_t buffer_height;
    uint16_t attribute;
    WorkArea area;
    int32_t column;
    int32_t row;
    bool whole_window;
};

// ---- Device operations: cells written into the screen buffer, rows scrolled
// or cleared. A run handed to write_cells is at most RUN_MAX bytes and fits
// the work area's row.

constexpr char BLANK = ' ';

// Failures of the fill calls are ignored: the row simply keeps what it had.
void clear_row(const PrintContext& context, int32_t row)
{
    const WorkArea& area = context.area;
    uint32_t width = static_cast<uint32_t>(area.right - area.left + 1);
    platform::Coord start{ static_cast<int16_t>(area.left), static_cast<int16_t>(row) };
    uint32_t written = 0;
    platform::fill_output_attribute(std_out_handle, context.attribute, width, start, &written);
    platform::fill_output_character(std_out_handle, BLANK, width, start, &written);
}

void clear_rows(const PrintContext& context, int32_t first, int32_t last)
{
    for (int32_t row = first; row <= last; ++row)
        clear_row(context, row);
}

// Moves rows first + count .. last of columns left .. right up to row first.
void shift_rows_up(const PrintContext& context, int32_t first, int32_t last, int32_t left, int32_t right, int32_t count)
{
    int32_t height = last - first + 1;
    if (count >= height) {
        clear_rows(context, context.area.top, context.area.bottom);
        return;
    }
    platform::Rect scroll{ static_cast<int16_t>(left), static_cast<int16_t>(first + count), static_cast<int16_t>(right),
        static_cast<int16_t>(last) };
    platform::Coord destination{ static_cast<int16_t>(left), static_cast<int16_t>(first) };
    // A failed scroll is ignored; the clearing below still runs.
    platform::scroll_screen_buffer(
        std_out_handle, scroll, nullptr, destination, platform::CharCell{ BLANK, context.attribute });
    // Rows between the moved block and the filled source rows keep stale text.
    int32_t moved = height - count;
    if (moved < count)
        clear_rows(context, first + moved, last);
}

bool write_cells(const PrintContext& context, const char* run, std::size_t count)
{
    platform::CharCell cells[RUN_MAX];
    for (std::size_t i = 0; i < count; ++i)
        cells[i] = platform::CharCell{ static_cast<uint8_t>(run[i]), context.attribute };
    platform::Rect region{ static_cast<int16_t>(context.column), static_cast<int16_t>(context.row),
        static_cast<int16_t>(context.column + static_cast<int32_t>(count) - 1), static_cast<int16_t>(context.row) };
    return platform::write_console_output(
        std_out_handle, cells, platform::Coord{ static_cast<int16_t>(count), 1 }, platform::Coord{ 0, 0 }, &region);
}

void scroll_lines(PrintContext& context, int32_t count)
{
    WorkArea& area = context.area;
    if (context.whole_window) {
        // Rows below the window are taken over as they stand: the window
        // moves down over them and the text already there stays put.
        int32_t below = context.buffer_height - area.bottom - 1;
        if (below > 0) {
            int32_t taken = std::min(count, below);
            area.top += taken;
            area.bottom += taken;
            count -= taken;
            if (count == 0)
                return;
        }
        shift_rows_up(context, 0, context.buffer_height - 1, 0, context.buffer_width - 1, count);
    } else {
        shift_rows_up(context, area.top, area.bottom, area.left, area.right, count);
    }
    context.row = area.bottom;
}

// ---- Character interpreter

void put_run(PrintContext& context, const char* run, std::size_t count)
{
    const WorkArea& area = context.area;  // scroll_lines may move it
    while (count > 0) {
        // A cursor right of the work area: the buffer was made narrower since
        // the view was read. Starting a new row keeps the piece non-empty.
        if (context.column > area.right) {
            context.column = area.left;
            ++context.row;
        }
        std::size_t piece = std::min(count, static_cast<std::size_t>(area.right - context.column + 1));
        if (context.row > area.bottom)
            scroll_lines(context, context.row - area.bottom);
        if (!write_cells(context, run, piece))
            return;
        run += piece;
        count -= piece;
        context.column += static_cast<int32_t>(piece);
        if (context.column == area.right + 1) {
            context.column = area.left;
            ++context.row;
        }
    }
}

void print_chars(PrintContext& context, const char* bytes, std::size_t count)
{
    char run[RUN_MAX];
    std::size_t length = 0;
    bool moved = false;
    for (std::size_t i = 0; i < count; ++i) {
        char byte = bytes[i];
        if (byte == '\n' || byte == '\r') {
            if (length > 0) {
                put_run(context, run, length);
                length = 0;
            }
            // The move starts from where the cursor really stands, so that a
            // run dropped by a failed write cannot push it out of the buffer.
            context.column = context.area.left;
            if (byte == '\n')
                ++context.row;
            moved = true;
            continue;
        }
        if (length == RUN_MAX) {
            put_run(context, run, length);
            length = 0;
        }
        run[length++] = byte;
    }
    if (length > 0)
        put_run(context, run, length);
    else if (moved && context.row > context.area.bottom)
        scroll_lines(context, context.row - context.area.bottom);
}

// ---- Requests

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

void init_console_output()
{
    view = ConsoleView{};
    view_read = false;
    region_last = 0;
    region_fixed = false;
    wrap_pending = false;
}
