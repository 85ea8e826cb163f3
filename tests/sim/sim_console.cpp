// Simulated console screen buffer: a grid of cells with the cursor, window
// and attribute, following the Win32 calls' documented semantics (and Wine's
// where Wine is stricter). Standard output is not a console until a test
// makes it one.
#include <algorithm>

#include "sim/sim.h"
#include "sim/sim_state.h"

namespace sim {

namespace {

using platform::CharCell;
using platform::Coord;
using platform::Rect;

constexpr uint16_t DEFAULT_ATTRIBUTE = 7;

struct Failure {
    bool every = false;
    int countdown = 0;

    bool strikes()
    {
        if (every)
            return true;
        return countdown > 0 && --countdown == 0;
    }
};

struct Console {
    bool exists = false;
    int width = 0;
    int height = 0;
    std::vector<CharCell> cells;
    Coord cursor{ 0, 0 };
    uint16_t attribute = DEFAULT_ATTRIBUTE;
    Rect window{};
    Failure info_failure;
    Failure output_failure;
    bool (*fails)(OutputCall) = nullptr;
    int argument_faults = 0;
    std::string last_argument_fault;
};

Console console;

bool is_console(platform::Handle handle)
{
    return console.exists && handle == STD_OUT;
}

bool inside(int x, int y)
{
    return x >= 0 && y >= 0 && x < console.width && y < console.height;
}

CharCell& cell(int x, int y)
{
    return console.cells[static_cast<std::size_t>(y * console.width + x)];
}

bool rect_in_buffer(const Rect& r)
{
    return r.left <= r.right && r.top <= r.bottom && inside(r.left, r.top) && inside(r.right, r.bottom);
}

// Windows moves the window just far enough to show a cursor set outside it.
void show_cursor()
{
    Rect& w = console.window;
    auto shift = [](int16_t& low, int16_t& high, int16_t at) {
        int16_t by = at < low ? static_cast<int16_t>(at - low) : at > high ? static_cast<int16_t>(at - high) : 0;
        low = static_cast<int16_t>(low + by);
        high = static_cast<int16_t>(high + by);
    };
    shift(w.left, w.right, console.cursor.x);
    shift(w.top, w.bottom, console.cursor.y);
}

// Counts a call that reached the console with arguments outside its buffer.
void check_arguments(bool inside_buffer, const char* call, Rect arguments)
{
    if (inside_buffer)
        return;
    ++console.argument_faults;
    console.last_argument_fault = std::string(call) + " (" + std::to_string(arguments.left) + ","
        + std::to_string(arguments.top) + "," + std::to_string(arguments.right) + "," + std::to_string(arguments.bottom)
        + ") in a buffer of " + std::to_string(console.width) + "x" + std::to_string(console.height);
}

template<typename Put> bool fill(platform::Handle handle, uint32_t count, Coord start, uint32_t* written, Put put)
{
    *written = 0;
    if (detail::output_call_fails(OutputCall::FILL) || !is_console(handle))
        return false;
    check_arguments(inside(start.x, start.y) && start.x + static_cast<int64_t>(count) <= console.width, "fill",
        Rect{ start.x, start.y, static_cast<int16_t>(start.x + count - 1), start.y });
    if (start.x < 0 || start.y < 0)
        return false;
    // The column is not checked against the width: the fill runs on along
    // the rows, as in Wine.
    std::size_t from = static_cast<std::size_t>(start.y) * console.width + start.x;
    std::size_t end = std::min(console.cells.size(), from + count);
    for (std::size_t i = from; i < end; ++i)
        put(console.cells[i]);
    *written = static_cast<uint32_t>(end > from ? end - from : 0);
    return true;
}

}  // namespace

void make_console(int16_t width, int16_t height, Rect window)
{
    console.exists = true;
    console.width = width;
    console.height = height;
    console.cells.assign(static_cast<std::size_t>(width) * height, CharCell{ ' ', DEFAULT_ATTRIBUTE });
    console.cursor = Coord{ 0, 0 };
    console.attribute = DEFAULT_ATTRIBUTE;
    console.window = window;
}

void resize_console(int16_t width, int16_t height)
{
    std::vector<CharCell> cells(static_cast<std::size_t>(width) * height, CharCell{ ' ', console.attribute });
    for (int y = 0; y < std::min<int>(height, console.height); ++y) {
        for (int x = 0; x < std::min<int>(width, console.width); ++x)
            cells[static_cast<std::size_t>(y * width + x)] = cell(x, y);
    }
    console.cells = std::move(cells);
    console.width = width;
    console.height = height;
    console.cursor = Coord{ std::min<int16_t>(console.cursor.x, static_cast<int16_t>(width - 1)),
        std::min<int16_t>(console.cursor.y, static_cast<int16_t>(height - 1)) };
    // The window keeps its size where the buffer allows, and moves up or left
    // to stay inside it.
    Rect& w = console.window;
    auto pull_in = [](int16_t& low, int16_t& high, int16_t size) {
        int16_t extent = std::min<int16_t>(static_cast<int16_t>(high - low + 1), size);
        low = std::min<int16_t>(low, static_cast<int16_t>(size - extent));
        high = static_cast<int16_t>(low + extent - 1);
    };
    pull_in(w.left, w.right, width);
    pull_in(w.top, w.bottom, height);
}

Coord console_size()
{
    return Coord{ static_cast<int16_t>(console.width), static_cast<int16_t>(console.height) };
}

void set_console_cursor(Coord position)
{
    console.cursor = position;
}

void set_console_attribute(uint16_t attribute)
{
    console.attribute = attribute;
}

void set_console_window(Rect window)
{
    console.window = window;
}

void put_console_text(Coord at, const std::string& text)
{
    for (std::size_t i = 0; i < text.size() && inside(at.x + static_cast<int>(i), at.y); ++i)
        cell(at.x + static_cast<int>(i), at.y) = CharCell{ static_cast<uint8_t>(text[i]), console.attribute };
}

void fail_screen_info(int nth)
{
    console.info_failure = Failure{ nth == 0, nth };
}

void fail_console_output(int nth)
{
    console.output_failure = Failure{ nth == 0, nth };
}

void on_output_call(bool (*fails)(OutputCall call))
{
    console.fails = fails;
}

int console_argument_faults()
{
    return console.argument_faults;
}

const std::string& last_argument_fault()
{
    return console.last_argument_fault;
}

bool detail::output_call_fails(OutputCall call)
{
    return console.fails && console.fails(call);
}

std::string console_row(int row)
{
    std::string text;
    if (row < 0 || row >= console.height)
        return text;
    for (int x = 0; x < console.width; ++x)
        text += static_cast<char>(cell(x, row).ch & 0xFF);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

uint16_t console_attribute(Coord at)
{
    return inside(at.x, at.y) ? cell(at.x, at.y).attributes : 0;
}

Coord console_cursor()
{
    return console.cursor;
}

Rect console_window()
{
    return console.window;
}

void detail::reset_console()
{
    console = Console{};
}

}  // namespace sim

namespace platform {

using sim::console;
using sim::detail::record;

bool get_screen_buffer_info(Handle handle, ScreenBufferInfo* info)
{
    record("GetConsoleScreenBufferInfo");
    if (sim::detail::output_call_fails(sim::OutputCall::SCREEN_INFO) || console.info_failure.strikes()
        || !sim::is_console(handle))
        return false;
    Coord size{ static_cast<int16_t>(console.width), static_cast<int16_t>(console.height) };
    *info = ScreenBufferInfo{ size, console.cursor, console.attribute, console.window, size };
    return true;
}

bool write_console_output(Handle handle, const CharCell* cells, Coord cells_size, Coord cells_origin, Rect* region)
{
    record("WriteConsoleOutputA");
    if (sim::detail::output_call_fails(sim::OutputCall::WRITE_OUTPUT) || console.output_failure.strikes()
        || !sim::is_console(handle))
        return false;
    // The destination is limited by the source block, then clipped to the
    // buffer; the region comes back as the rectangle written.
    const Rect target = *region;
    sim::check_arguments(sim::rect_in_buffer(target) && target.right - target.left < cells_size.x - cells_origin.x
            && target.bottom - target.top < cells_size.y - cells_origin.y,
        "WriteConsoleOutputA", target);
    int right = std::min<int>(target.right, target.left + cells_size.x - cells_origin.x - 1);
    int bottom = std::min<int>(target.bottom, target.top + cells_size.y - cells_origin.y - 1);
    int left = std::max<int>(target.left, 0);
    int top = std::max<int>(target.top, 0);
    right = std::min(right, console.width - 1);
    bottom = std::min(bottom, console.height - 1);
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            int source_x = cells_origin.x + x - target.left;
            int source_y = cells_origin.y + y - target.top;
            sim::cell(x, y) = cells[source_y * cells_size.x + source_x];
        }
    }
    *region = Rect{ static_cast<int16_t>(left), static_cast<int16_t>(top), static_cast<int16_t>(right),
        static_cast<int16_t>(bottom) };
    return true;
}

bool scroll_screen_buffer(Handle handle, const Rect& scroll, const Rect* clip, Coord destination, const CharCell& fill)
{
    record("ScrollConsoleScreenBufferA");
    // Wine refuses a scroll rectangle not wholly inside the buffer and an
    // origin outside it, where Windows would clip.
    if (sim::detail::output_call_fails(sim::OutputCall::SCROLL) || !sim::is_console(handle))
        return false;
    sim::check_arguments(
        sim::rect_in_buffer(scroll) && sim::inside(destination.x, destination.y), "ScrollConsoleScreenBufferA", scroll);
    if (!sim::rect_in_buffer(scroll) || !sim::inside(destination.x, destination.y))
        return false;
    Rect limit{ 0, 0, static_cast<int16_t>(console.width - 1), static_cast<int16_t>(console.height - 1) };
    if (clip) {
        limit = Rect{ std::max(limit.left, clip->left), std::max(limit.top, clip->top),
            std::min(limit.right, clip->right), std::min(limit.bottom, clip->bottom) };
    }
    auto in_limit
        = [&](int x, int y) { return x >= limit.left && x <= limit.right && y >= limit.top && y <= limit.bottom; };
    const std::vector<CharCell> before = console.cells;
    int dx = destination.x - scroll.left;
    int dy = destination.y - scroll.top;
    for (int y = scroll.top; y <= scroll.bottom; ++y) {
        for (int x = scroll.left; x <= scroll.right; ++x) {
            bool covered
                = x - dx >= scroll.left && x - dx <= scroll.right && y - dy >= scroll.top && y - dy <= scroll.bottom;
            if (!covered && in_limit(x, y))
                sim::cell(x, y) = fill;
        }
    }
    for (int y = scroll.top; y <= scroll.bottom; ++y) {
        for (int x = scroll.left; x <= scroll.right; ++x) {
            if (sim::inside(x + dx, y + dy) && in_limit(x + dx, y + dy))
                sim::cell(x + dx, y + dy) = before[static_cast<std::size_t>(y * console.width + x)];
        }
    }
    return true;
}

bool fill_output_attribute(Handle handle, uint16_t attribute, uint32_t count, Coord start, uint32_t* written)
{
    record("FillConsoleOutputAttribute");
    return sim::fill(handle, count, start, written, [&](CharCell& c) { c.attributes = attribute; });
}

bool fill_output_character(Handle handle, char ch, uint32_t count, Coord start, uint32_t* written)
{
    record("FillConsoleOutputCharacterA");
    return sim::fill(handle, count, start, written, [&](CharCell& c) { c.ch = static_cast<uint8_t>(ch); });
}

bool set_cursor_position(Handle handle, Coord position)
{
    record("SetConsoleCursorPosition");
    if (sim::detail::output_call_fails(sim::OutputCall::CURSOR) || !sim::is_console(handle))
        return false;
    sim::check_arguments(sim::inside(position.x, position.y), "SetConsoleCursorPosition",
        Rect{ position.x, position.y, position.x, position.y });
    if (!sim::inside(position.x, position.y))
        return false;
    console.cursor = position;
    sim::show_cursor();
    return true;
}

bool set_window_info(Handle handle, bool absolute, const Rect& window)
{
    record("SetConsoleWindowInfo");
    if (sim::detail::output_call_fails(sim::OutputCall::WINDOW) || !sim::is_console(handle))
        return false;
    Rect target = window;
    if (!absolute) {
        const Rect& w = console.window;
        target = Rect{ static_cast<int16_t>(w.left + window.left), static_cast<int16_t>(w.top + window.top),
            static_cast<int16_t>(w.right + window.right), static_cast<int16_t>(w.bottom + window.bottom) };
    }
    sim::check_arguments(sim::rect_in_buffer(target), "SetConsoleWindowInfo", target);
    if (!sim::rect_in_buffer(target))
        return false;
    console.window = target;
    return true;
}

}  // namespace platform
