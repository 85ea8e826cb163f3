// File-name conversion between UTF-8 and the ANSI code page of the locale,
// through the C library's iconv.
#include "platform/posix/names.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace platform::posix {

namespace {

constexpr const char* DEFAULT_CODE_PAGE = "WINDOWS-1252";

struct LanguageCodePage {
    std::string_view language;
    const char* code_page;
};

// Languages whose Windows locale has an ANSI code page other than 1252. Every
// other language, C and POSIX among them, gets 1252, as under Wine.
constexpr LanguageCodePage LANGUAGE_CODE_PAGES[] = {
    { "cs", "WINDOWS-1250" },
    { "pl", "WINDOWS-1250" },
    { "hu", "WINDOWS-1250" },
    { "sk", "WINDOWS-1250" },
    { "sl", "WINDOWS-1250" },
    { "hr", "WINDOWS-1250" },
    { "ro", "WINDOWS-1250" },
    { "sq", "WINDOWS-1250" },
    { "bs", "WINDOWS-1250" },
    { "ru", "WINDOWS-1251" },
    { "uk", "WINDOWS-1251" },
    { "be", "WINDOWS-1251" },
    { "bg", "WINDOWS-1251" },
    { "mk", "WINDOWS-1251" },
    { "sr", "WINDOWS-1251" },
    { "kk", "WINDOWS-1251" },
    { "ky", "WINDOWS-1251" },
    { "mn", "WINDOWS-1251" },
    { "tt", "WINDOWS-1251" },
    { "el", "WINDOWS-1253" },
    { "tr", "WINDOWS-1254" },
    { "az", "WINDOWS-1254" },
    { "uz", "WINDOWS-1254" },
    { "he", "WINDOWS-1255" },
    { "iw", "WINDOWS-1255" },
    { "yi", "WINDOWS-1255" },
    { "ar", "WINDOWS-1256" },
    { "fa", "WINDOWS-1256" },
    { "ur", "WINDOWS-1256" },
    { "et", "WINDOWS-1257" },
    { "lv", "WINDOWS-1257" },
    { "lt", "WINDOWS-1257" },
    { "vi", "WINDOWS-1258" },
    { "th", "CP874" },
    { "ja", "CP932" },
    { "ko", "CP949" },
};

// How many bytes Wine takes as one unconvertible character of a UTF-8 name:
// one that is no character is replaced in as many parts as Wine's decoder
// makes of it.
std::size_t bad_utf8_length(std::string_view rest)
{
    char32_t point;
    return read_utf8_character(rest, &point);
}

std::size_t one_byte(std::string_view)
{
    return 1;
}

std::string convert(iconv_t converter, std::string_view text, std::size_t (*bad_length)(std::string_view))
{
    // Most names are ASCII, which needs no conversion.
    if (converter == NO_CONVERTER || is_ascii(text))
        return std::string(text);
    return convert_with_replacement(converter, text, bad_length);
}

}  // namespace

std::string convert_with_replacement(
    iconv_t converter, std::string_view text, std::size_t (*bad_length)(std::string_view rest))
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
            // EILSEQ (no such character, or bytes that are no character) or
            // EINVAL (a sequence cut off at the end).
            result += '?';
            rest.remove_prefix(std::min(bad_length(rest), rest.size()));
            continue;
        }
        if (rest.empty() && out == chunk)
            return result;
    }
}

// Wine's decoder, as its listings show: a lead byte and the continuation bytes
// that can still begin a valid character go together, so an overlong form or
// a surrogate breaks after its second byte and each byte after it stands
// alone; a sequence cut off by the end of the name takes the rest with it.
std::size_t read_utf8_character(std::string_view rest, char32_t* point)
{
    auto lead = static_cast<unsigned char>(rest[0]);
    *point = REPLACEMENT_CHARACTER;
    if (lead < 0x80) {
        *point = lead;
        return 1;
    }
    std::size_t following = lead >= 0xC2 && lead <= 0xDF ? 1
        : lead >= 0xE0 && lead <= 0xEF                   ? 2
        : lead >= 0xF0 && lead <= 0xF4                   ? 3
                                                         : 0;
    if (following == 0)
        return 1;
    if (following >= rest.size())
        return rest.size();
    char32_t value = lead & (following == 1 ? 0x1F : following == 2 ? 0x0F : 0x07);
    std::size_t taken = 1;
    auto next = [&](char32_t* bits) {
        *bits = static_cast<unsigned char>(rest[taken]) ^ 0x80;
        return *bits < 0x40;
    };
    char32_t bits;
    if (following == 3) {
        if (!next(&bits))
            return taken;
        value = (value << 6) | bits;
        ++taken;
        if (value < 0x10)  // overlong
            return taken;
    }
    if (following >= 2) {
        if (!next(&bits))
            return taken;
        value = (value << 6) | bits;
        if (value >= (0x110000 >> 6))  // beyond U+10FFFF
            return taken;
        ++taken;
        if (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)))  // overlong, surrogate
            return taken;
    }
    if (!next(&bits))
        return taken;
    value = (value << 6) | bits;
    ++taken;
    if (value >= 0x80)
        *point = value;
    return taken;
}

const char* code_page_for_locale(std::string_view locale)
{
    std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    std::string_view territory;
    if (std::size_t at = locale.find('_'); at != std::string_view::npos && at == language.size()) {
        territory = locale.substr(at + 1);
        territory = territory.substr(0, territory.find_first_of(".@"));
    }
    std::size_t modifier_at = locale.find('@');
    std::string_view modifier = modifier_at == std::string_view::npos ? "" : locale.substr(modifier_at + 1);

    if (language == "zh")
        return territory == "TW" || territory == "HK" || territory == "MO" ? "CP950" : "CP936";
    if (language == "sr" && modifier == "latin")
        return "WINDOWS-1250";
    for (const LanguageCodePage& row : LANGUAGE_CODE_PAGES) {
        if (row.language == language)
            return row.code_page;
    }
    return DEFAULT_CODE_PAGE;
}

NameConverter::NameConverter(const char* code_page)
    : code_page_(code_page)
    , to_ansi_(iconv_open(code_page, "UTF-8"))
    , to_utf8_(iconv_open("UTF-8", code_page))
{
    if (to_ansi_ == NO_CONVERTER || to_utf8_ == NO_CONVERTER) {
        if (to_ansi_ != NO_CONVERTER)
            iconv_close(to_ansi_);
        if (to_utf8_ != NO_CONVERTER)
            iconv_close(to_utf8_);
        code_page_ = DEFAULT_CODE_PAGE;
        to_ansi_ = iconv_open(DEFAULT_CODE_PAGE, "UTF-8");
        to_utf8_ = iconv_open("UTF-8", DEFAULT_CODE_PAGE);
    }
    // The lead bytes of the double-byte code pages, as Windows' code page
    // information gives them: Shift JIS leaves the single-byte katakana out.
    std::string_view name = code_page_;
    for (unsigned byte = 0x81; byte <= 0xFE; ++byte) {
        bool shift_jis_lead = byte <= 0x9F || (byte >= 0xE0 && byte <= 0xFC);
        if (name == "CP932" ? shift_jis_lead : name == "CP936" || name == "CP949" || name == "CP950")
            lead_bytes_[byte] = true;
    }
}

NameConverter::~NameConverter()
{
    if (to_ansi_ != NO_CONVERTER)
        iconv_close(to_ansi_);
    if (to_utf8_ != NO_CONVERTER)
        iconv_close(to_utf8_);
}

std::string NameConverter::to_ansi(std::string_view utf8) const
{
    return convert(to_ansi_, utf8, bad_utf8_length);
}

std::string NameConverter::to_utf8(std::string_view ansi) const
{
    return convert(to_utf8_, ansi, one_byte);
}

const NameConverter& names()
{
    static const NameConverter converter([] {
        for (const char* variable : { "LC_ALL", "LC_CTYPE", "LANG" }) {
            const char* value = std::getenv(variable);
            if (value && *value)
                return code_page_for_locale(value);
        }
        return DEFAULT_CODE_PAGE;
    }());
    return converter;
}

}  // namespace platform::posix
