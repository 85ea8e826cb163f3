// Private to the POSIX platform: the tool's text as a terminal is to show it,
// from the ANSI code page in which the tool prints into the character set of
// the user's locale.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/names.h"

namespace platform::posix {

// The character set of the locale that LC_ALL, LC_CTYPE or LANG name (the
// process itself stays in the C locale): the codeset in the name when that
// locale is not installed, ASCII when the name has none (C and POSIX among
// them).
std::string locale_charset();

class TerminalText {
public:
    // Text in the converter's code page for a terminal in the character set.
    // Beyond UTF-8 and ASCII, the conversion is the C library's iconv, and
    // without it only ASCII is shown as it is.
    TerminalText(const NameConverter& names, const char* charset);
    ~TerminalText();
    TerminalText(const TerminalText&) = delete;
    TerminalText& operator=(const TerminalText&) = delete;

    // True when the text would be shown byte for byte as it is.
    static bool shown_as_is(std::string_view ansi);

    // A character the terminal's set lacks, a byte the code page leaves
    // undefined, and a control character other than CR and LF each become
    // one '?'. Throws std::bad_alloc only.
    std::string convert(std::string_view ansi) const;

private:
    enum class Charset { UTF8, ASCII, OTHER };

    const NameConverter& names_;
    Charset charset_;
    void* converter_ = nullptr;  // iconv's, from UTF-8, for any other set
};

// The process's terminal text, for the locale as it stands at the first call.
const TerminalText& terminal_text();

}  // namespace platform::posix
