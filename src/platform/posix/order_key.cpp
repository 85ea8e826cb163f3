// The key by which Wine's order of a directory's names becomes a byte order.
#include "platform/posix/order_key.h"

#include "platform/posix/names.h"

#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale and towupper_l
#endif

#include <cwctype>

namespace platform::posix {

namespace {

// Upper-casing beyond ASCII needs a UTF-8 locale; the program itself runs in
// the C locale.
locale_t case_locale()
{
    static const locale_t locale = [] {
        for (const char* name : { "C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8" }) {
            if (locale_t made = newlocale(LC_CTYPE_MASK, name, nullptr))
                return made;
        }
        return locale_t{};
    }();
    return locale;
}

char16_t upper_unit(char16_t unit)
{
    if (unit < 0x80)
        return static_cast<char16_t>(upper_ascii(static_cast<char>(unit)));
    locale_t locale = case_locale();
    if (!locale || (unit >= 0xD800 && unit <= 0xDFFF))
        return unit;
    return static_cast<char16_t>(towupper_l(unit, locale));
}

// One UTF-16 unit in the form of UTF-8 (surrogates too, each on its own),
// whose byte order is the order of the units.
void append_unit(std::string& key, char16_t unit)
{
    append_utf8(key, unit);
}

}  // namespace

std::string order_key(std::string_view name, FileSystemCharset charset)
{
    std::string key;
    key.reserve(name.size() + name.size() / 2);
    for (std::size_t at = 0; at < name.size();) {
        char32_t point;
        at += read_name_character(name.substr(at), charset, &point);
        if (point >= 0x10000) {
            point -= 0x10000;
            append_unit(key, static_cast<char16_t>(0xD800 + (point >> 10)));
            append_unit(key, static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            append_unit(key, upper_unit(static_cast<char16_t>(point)));
        }
    }
    return key;
}

}  // namespace platform::posix
