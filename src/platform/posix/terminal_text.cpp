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

// Runs text through the converter. A byte it cannot convert (a byte the code
// page leaves undefined, or a lead byte cut off at the end) becomes one '?'.
std::string convert_with_replacement(iconv_t converter, std::string_view text)
{
    std::string result;
    std::string_view rest = text;
    char chunk[256];
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    for (;;) {
        char* in = const_cast<char*>(rest.data());
        std::size_t in_left = rest.size();
        char* out = chunk;
        std::size_t out_left = sizeof chunk;
        // With no input left, this call writes what ends a shift state.
        std::size_t done = rest.empty() ? iconv(converter, nullptr, nullptr, &out, &out_left)
                                        : iconv(converter, &in, &in_left, &out, &out_left);
        int error = errno;
        result.append(chunk, static_cast<std::size_t>(out - chunk));
        rest.remove_prefix(rest.size() - in_left);
        if (done == static_cast<std::size_t>(-1) && error == E2BIG)
            continue;
        if (done == static_cast<std::size_t>(-1) && !rest.empty()) {
            // EILSEQ (no such character) or EINVAL (cut off at the end).
            result += REPLACEMENT;
            rest.remove_prefix(1);
            continue;
        }
        if (rest.empty() && out == chunk)
            return result;
    }
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

    return convert_with_replacement(converter_, input);
}

const TerminalText& terminal_text()
{
    static const TerminalText text(names().iconv_name(), locale_charset().c_str());
    return text;
}

}  // namespace platform::posix
