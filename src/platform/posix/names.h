// Private to the POSIX platform: file names between the file system's UTF-8
// and the 8-bit ANSI code page in which the tool (and Wine) hands them out.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace platform::posix {

// Windows code pages by number. Wine gives 1252 to every locale that it has
// no other code page for, and UTF-8 to those whose Windows locale has no
// ANSI code page.
inline constexpr unsigned DEFAULT_CODE_PAGE = 1252;
inline constexpr unsigned UTF8_CODE_PAGE = 65001;

// The ANSI code page that Wine gives a locale name such as "fr_FR.UTF-8" or
// "sr_RS@latin".
unsigned code_page_for_locale(std::string_view locale);

// How Wine reads the bytes of a file name: as UTF-8 in a UTF-8 locale; in the
// C locale (which a locale the machine lacks leaves it in) as 7-bit ASCII,
// each byte without its top bit. Wine reads names in other character sets
// by their own tables, which are not followed here: such names are read as
// UTF-8.
enum class FileSystemCharset { UTF8, SEVEN_BIT };

// The character set of the locale of character types that the environment
// names (C where the machine lacks it), as Wine reads names in it.
FileSystemCharset file_system_charset_of_environment();

// The code page of the locale that LC_ALL, LC_CTYPE or LANG name (the first
// that is set), as Wine picks it: a locale that this machine has not
// generated counts as none, and none gives 1252; but LC_ALL counts by its
// name, generated or not.
unsigned code_page_of_environment();

struct CodePageTables;

// Wine's conversions of a code page, built from the tables that the program
// carries: nothing of the C library's own conversions is used.
class NameConverter {
public:
    // A code page that Wine never gives a locale is taken as 1252.
    explicit NameConverter(unsigned code_page, FileSystemCharset charset = FileSystemCharset::UTF8);
    NameConverter(const NameConverter&) = delete;
    NameConverter& operator=(const NameConverter&) = delete;

    // As Wine hands a file name out: the name read in the file system's
    // character set (an invalid UTF-8 sequence is U+FFFD), then each UTF-16
    // unit as the code page takes it, with best fit, '?' for one it has no
    // character for (a character beyond the BMP is two units). Throws
    // std::bad_alloc only.
    std::string to_ansi(std::string_view name) const;
    // As Wine takes a path in: a lead byte and the byte after it are one
    // character. Throws std::bad_alloc only.
    std::string to_utf8(std::string_view ansi) const;

    // Whether the byte begins a two-byte character (never in a single-byte
    // code page, nor in UTF-8).
    bool is_lead_byte(unsigned char byte) const { return (lead_bytes_[byte / 64] >> (byte % 64)) & 1; }

    // The code page converted to, after the fallback.
    unsigned code_page() const { return code_page_; }
    FileSystemCharset file_system_charset() const { return charset_; }

private:
    // The way in is built a row at a time (the single bytes, or the pairs of
    // one lead byte), the way out whole, the first time a name needs them:
    // most names are ASCII and need neither. Not for use from more than one
    // thread.
    static constexpr std::size_t ROW = 256;
    const char16_t* in_row(unsigned lead) const;
    const uint16_t* out_table() const;
    void append_unit(std::string& ansi, char16_t unit) const;

    unsigned code_page_;
    FileSystemCharset charset_;
    const CodePageTables* tables_;  // null for UTF-8
    std::array<uint64_t, 4> lead_bytes_{};
    // Byte values by UTF-16 unit; a value above 0xFF is a lead byte and a
    // trail byte.
    mutable std::unique_ptr<uint16_t[]> out_;
    // Units by byte: row 0 for single bytes, the lead byte's row for pairs.
    mutable std::array<std::unique_ptr<char16_t[]>, ROW> in_rows_;
};

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Reads one character of a UTF-8 name as Wine does: *point is its code point,
// or REPLACEMENT_CHARACTER when the bytes are none; the result is how many
// bytes it takes (at least 1; `rest` must not be empty).
std::size_t read_utf8_character(std::string_view rest, char32_t* point);

// Reads one character of a file name in the character set as Wine does.
inline std::size_t read_name_character(std::string_view rest, FileSystemCharset charset, char32_t* point)
{
    if (charset == FileSystemCharset::UTF8)
        return read_utf8_character(rest, point);
    *point = static_cast<unsigned char>(rest[0]) & 0x7F;
    return 1;
}

// Appends a code point (or a lone UTF-16 unit) in UTF-8.
void append_utf8(std::string& text, char32_t point);

// Every code page here keeps ASCII bytes as they are.
inline bool is_ascii(std::string_view text)
{
    // Eight bytes at a time: names are checked twice per entry and pass.
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        if (word & 0x8080808080808080u)
            return false;
    }
    for (; at < text.size(); ++at) {
        if (static_cast<unsigned char>(text[at]) >= 0x80)
            return false;
    }
    return true;
}

// The process's converter, for the code page of the locale as it stands at
// the first call.
const NameConverter& names();

}  // namespace platform::posix
