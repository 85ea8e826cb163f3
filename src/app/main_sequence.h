// The tool's whole dialogue with the user, from the banner to the process end.
#pragma once

#include <cstdint>
#include <string>

// The start directory as the platform reports it, with one backslash appended.
extern std::string root_dir;

// The file number under which the list file is open.
extern int32_t list_file_number;

// Never returns: both of its paths end the process with status 0.
[[noreturn]] void main_sequence();
