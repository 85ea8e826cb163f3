// The state of one console-mode output request, shared by the character
// interpreter (console_interpreter.cpp) and the device operations that write
// cells and scroll (console_device.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t RUN_MAX = 256;

struct WorkArea {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct PrintContext {
    int32_t buffer_width;
    int32_t buffer_height;
    uint16_t attribute;
    WorkArea area;
    int32_t column;
    int32_t row;
    bool whole_window;
};

// Character interpreter: places the bytes at the cursor, moving it for CR and
// LF. Reaches the console only through the two device operations below.
void print_chars(PrintContext& context, const char* bytes, std::size_t count);
void put_run(PrintContext& context, const char* run, std::size_t count);

// Device operations. `count` is at most RUN_MAX and fits the work area's row.
bool write_cells(const PrintContext& context, const char* run, std::size_t count);
void scroll_lines(PrintContext& context, int32_t count);
