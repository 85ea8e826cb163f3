// Console text output: every line the tool shows.
#pragma once

#include <cstddef>
#include <string_view>

// The text, then a line end.
void print_line(std::string_view text);

// One output request.
void console_write(const char* bytes, std::size_t count);

// The service as a fresh process has it: nothing read of the console yet.
void init_console_output();
