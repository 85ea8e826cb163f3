// Text for a terminal: the ANSI code page's bytes in the locale's character
// set. The code page comes in by the program's own tables; only a terminal in
// a set other than UTF-8 and ASCII needs the C library's iconv, which the
// portable program, built without the host's conversions, goes without.
#include "platform/posix/terminal_text.h"

#ifndef AOL_PORTABLE
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif
#endif

#include <cerrno>
#include <cstdlib>

#include "platform/posix/locales.h"

namespace platform::posix {

namespace {

constexpr const char* ASCII = "ANSI_X3.4-1968";
constexpr char REPLACEMENT = '?';

// A file name may hold any byte but '/' and NUL: a control character in it
// would be obeyed by the terminal (an escape sequence, a backspace), where a
// Windows console shows a character. CR and LF are the tool's own line ends.
// U+0000 is what a lead byte at the end of the text comes in as.
bool is_control(char32_t point)
{
    return (point < 0x20 && point != '\r' && point != '\n') || (point >= 0x7F && point < 0xA0);
}

#ifndef AOL_PORTABLE
const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);

// Runs UTF-8 text through the converter. A character it cannot convert
// becomes one '?'.
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
            char32_t point;
            result += REPLACEMENT;
            rest.remove_prefix(read_utf8_character(rest, &point));
            continue;
        }
        if (rest.empty() && out == chunk)
            return result;
    }
}
#endif

}  // namespace

std::string locale_charset()
{
#ifndef AOL_PORTABLE
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", locale_t{})) {
        std::string charset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
        if (!charset.empty())
            return charset;
    }
#endif
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

TerminalText::TerminalText(const NameConverter& names, const char* charset)
    : names_(names)
{
    std::string key = normal_codeset(charset);
    if (key == "utf8") {
        charset_ = Charset::UTF8;
    } else if (key == "ansix341968" || key == "ascii" || key == "usascii") {
        charset_ = Charset::ASCII;
    } else {
        charset_ = Charset::OTHER;
#ifndef AOL_PORTABLE
        if (iconv_t converter = iconv_open(charset, "UTF-8"); converter != NO_CONVERTER)
            converter_ = converter;
#endif
        if (!converter_)
            charset_ = Charset::ASCII;
    }
}

TerminalText::~TerminalText()
{
#ifndef AOL_PORTABLE
    if (converter_)
        iconv_close(static_cast<iconv_t>(converter_));
#endif
}

bool TerminalText::shown_as_is(std::string_view ansi)
{
    for (char c : ansi) {
        if (static_cast<unsigned char>(c) >= 0x80 || is_control(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string TerminalText::convert(std::string_view ansi) const
{
    std::string utf8 = names_.to_utf8(ansi);
    std::string shown;
    shown.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t point;
        std::size_t size = read_utf8_character(std::string_view(utf8).substr(at), &point);
        if (is_control(point) || (charset_ == Charset::ASCII && point >= 0x80))
            shown += REPLACEMENT;
        else
            shown.append(utf8, at, size);
        at += size;
    }
#ifndef AOL_PORTABLE
    if (charset_ == Charset::OTHER)
        return convert_with_replacement(static_cast<iconv_t>(converter_), shown);
#endif
    return shown;
}

const TerminalText& terminal_text()
{
    static const TerminalText text(names(), locale_charset().c_str());
    return text;
}

}  // namespace platform::posix
