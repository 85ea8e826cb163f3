// Private to the POSIX platform: the order in which Wine lists a directory.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/names.h"

namespace platform::posix {

// ASCII letters upper-cased, every other byte as it is: how both the order
// and the wildcard match fold the case of ASCII names.
inline char upper_ascii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Wine's upper case of a UTF-16 unit (RtlUpcaseUnicodeChar): by its own
// table, the same on every machine.
char16_t upper_unit(char16_t unit);

// Wine orders a directory by the names' UTF-16 units compared without regard
// to case (both sides upper-cased, accented letters included). The key holds
// those units so that a plain byte comparison gives the same order; for an
// ASCII name it is simply the name upper-cased. Bytes that are no valid UTF-8
// stand for U+FFFD, in the parts that Wine's decoder makes. Read in 7 bits
// where Wine reads names so.
std::string order_key(std::string_view name, FileSystemCharset charset = FileSystemCharset::UTF8);

// The listing order of two entries by their keys; ties (names that differ
// only in case) go by the names' raw bytes.
inline bool listed_before(
    std::string_view key_a, std::string_view native_a, std::string_view key_b, std::string_view native_b)
{
    int order = key_a.compare(key_b);
    return order != 0 ? order < 0 : native_a < native_b;
}

}  // namespace platform::posix
