// List entries: one file found by the walk, shown and written to the list file.
#pragma once

#include <cstdint>
#include <string>

// Every occurrence of find replaced, left to right; inserted text is never
// searched again.
std::string replace_all(const std::string& source, const std::string& find, const std::string& replacement);

// Prints the file's entry and writes it, with CR LF, to the list file.
// Returns the write's error number.
int32_t emit_entry(const std::string& path, const std::string& name);
