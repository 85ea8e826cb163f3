// The device operations of console output: cells written into the screen
// buffer, and rows scrolled or cleared.
#include <algorithm>

#include "platform/platform.h"
#include "services/print_context.h"
#include "services/std_handles.h"

namespace {

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

}  // namespace

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
