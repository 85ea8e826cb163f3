// Private to the POSIX platform: file names between the file system's UTF-8
// and the 8-bit ANSI code page in which the tool (and Wine) hands them out.
#pragma once

#include <iconv.h>

#include <bitset>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::posix {

// What iconv_open gives when it knows no such conversion.
inline const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);

// Runs text through an open converter. A character that it cannot convert
// becomes one '?' and takes bad_length(rest) bytes of the input, `rest`
// starting at that character. Throws std::bad_alloc only.
std::string convert_with_replacement(
    iconv_t converter, std::string_view text, std::size_t (*bad_length)(std::string_view rest));

// The iconv name of the ANSI code page that Wine uses for a locale name such
// as "fr_FR.UTF-8" or "sr_RS@latin".
const char* code_page_for_locale(std::string_view locale);

class NameConverter {
public:
    // Falls back to Windows-1252 when iconv does not know the code page, and
    // to passing bytes through when it knows neither.
    explicit NameConverter(const char* code_page);
    ~NameConverter();
    NameConverter(const NameConverter&) = delete;
    NameConverter& operator=(const NameConverter&) = delete;

    // A character the code page lacks, or an invalid UTF-8 sequence, becomes
    // one '?'. Throws std::bad_alloc only.
    std::string to_ansi(std::string_view utf8) const;
    std::string to_utf8(std::string_view ansi) const;

    // The code page converted to, after the fallback.
    const char* code_page() const { return code_page_; }

    // Whether the byte begins a double-byte character of the code page.
    bool is_lead_byte(unsigned char byte) const { return lead_bytes_[byte]; }

private:
    const char* code_page_;
    iconv_t to_ansi_;
    iconv_t to_utf8_;
    std::bitset<256> lead_bytes_;  // none in a single-byte code page
};

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Reads one character of a UTF-8 name as Wine does: *point is its code point,
// or REPLACEMENT_CHARACTER when the bytes are none; the result is how many
// bytes it takes (at least 1; `rest` must not be empty).
std::size_t read_utf8_character(std::string_view rest, char32_t* point);

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

// The process's converter, for the code page of LC_ALL, LC_CTYPE or LANG as
// they stand at the first call.
const NameConverter& names();

}  // namespace platform::posix
