// The character interpreter of console output: gathers ordinary bytes into
// runs, places them row segment by row segment, and moves the cursor for CR
// and LF.
#include <algorithm>

#include "services/print_context.h"

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
