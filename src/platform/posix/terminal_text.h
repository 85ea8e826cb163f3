// Private to the POSIX platform: the tool's text as a terminal is to show it,
// from the ANSI code page in which the tool prints into the character set of
// the user's locale.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace platform::posix {

// The character set of the locale that LC_ALL, LC_CTYPE or LANG name (the
// process itself stays in the C locale): the codeset in the name when that
// locale is not installed, ASCII when the name has none (C and POSIX among
// them).
std::string locale_charset();

class TerminalText {
public:
    // Without a converter between the two, only ASCII is shown as it is.
    TerminalText(const char* code_page, const char* charset);
    ~TerminalText();
    TerminalText(const TerminalText&) = delete;
    TerminalText& operator=(const TerminalText&) = delete;

    // True when the text would be shown byte for byte as it is.
    static bool shown_as_is(std::string_view ansi);

    // A character the terminal's set lacks, a byte the code page leaves
    // undefined, and a control byte other than CR and LF each become one '?'.
    // Throws std::bad_alloc only.
    std::string convert(std::string_view ansi) const;

private:
    iconv_t converter_;
};

// The process's terminal text, for the locale as it stands at the first call.
const TerminalText& terminal_text();

}  // namespace platform::posix
