// Text for a terminal: the ANSI code page's bytes in the locale's character
// set, through the C library's iconv.
#include "platform/posix/terminal_text.h"

#include <langinfo.h>
#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif

#include <cerrno>
#include <cstdlib>

#include "platform/posix/names.h"

namespace platform::posix {

namespace {

constexpr const char* ASCII = "ANSI_X3.4-1968";
constexpr char REPLACEMENT = '?';

// A file name may hold any byte but '/' and NUL: a control byte in it would
// be obeyed by the terminal (an escape sequence, a backspace), where a Windows
// console shows a character. CR and LF are the tool's own line ends.
bool is_control(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\r' && c != '\n') || byte == 0x7F;
}

}  // namespace

std::string locale_charset()
{
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", locale_t{})) {
        std::string charset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
        if (!charset.empty())
            return charset;
    }
    for (const char* variable : { "LC_ALL", "LC_CTYPE", "LANG" }) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view name = value;
        std::size_t dot = name.find('.');
        if (dot == std::string_view::npos)
            break;
        std::string_view codeset = name.substr(dot + 1);
        codeset = codeset.substr(0, codeset.find('@'));
        if (codeset.empty())
            break;
        return std::string(codeset);
    }
    return ASCII;
}

TerminalText::TerminalText(const char* code_page, const char* charset)
    : converter_(iconv_open(charset, code_page))
{
    if (converter_ == NO_CONVERTER)
        converter_ = iconv_open(ASCII, code_page);
}

TerminalText::~TerminalText()
{
    if (converter_ != NO_CONVERTER)
        iconv_close(converter_);
}

bool TerminalText::shown_as_is(std::string_view ansi)
{
    for (char c : ansi) {
        if (static_cast<unsigned char>(c) >= 0x80 || is_control(c))
            return false;
    }
    return true;
}

std::string TerminalText::convert(std::string_view ansi) const
{
    std::string input(ansi);
    for (char& c : input) {
        if (is_control(c) || (converter_ == NO_CONVERTER && static_cast<unsigned char>(c) >= 0x80))
            c = REPLACEMENT;
    }
    if (converter_ == NO_CONVERTER)
        return input;

    // The code page is single- or double-byte: an undefined byte, or a lead
    // byte cut off at the end, is one byte.
    return convert_with_replacement(converter_, input, [](std::string_view) -> std::size_t { return 1; });
}

const TerminalText& terminal_text()
{
    static const TerminalText text(names().iconv_name(), locale_charset().c_str());
    return text;
}

}  // namespace platform::posix
