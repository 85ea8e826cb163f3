// List entries: one file found by the walk, shown and written to the list file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The length of the character of the ANSI code page that starts at `at`: two
// bytes for a lead byte with a byte after it, else one. A double-byte
// character's second byte can be a backslash, and is no separator then.
std::size_t char_length(std::string_view text, std::size_t at);

// Every occurrence of find replaced, left to right; inserted text is never
// searched again. Occurrences start only where characters start, so the
// second byte of a double-byte character is never taken for a match.
std::string replace_all(const std::string& source, const std::string& find, const std::string& replacement);

// Prints the file's entry and writes it, with CR LF, to the list file.
// Returns the write's error number.
int32_t emit_entry(const std::string& path, const std::string& name);
