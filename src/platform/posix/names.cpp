// File-name conversion between UTF-8 and the ANSI code page of the locale, as
// Wine converts: its tables are the C library's iconv, mended by the runs in
// code_page_data.inc wherever Wine answers otherwise (best fit above all).
#include "platform/posix/names.h"

#include <langinfo.h>
#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <span>

namespace platform::posix {

namespace {

// A stretch of a table that iconv does not give as Wine has it: `count` keys
// from `first`, `key_step` apart, take the values from `value` on,
// `value_step` apart.
struct TableRun {
    uint16_t first;
    uint16_t value;
    uint16_t count;
    uint8_t key_step;
    uint8_t value_step;
};

struct LocaleCodePage {
    std::string_view name;  // a Windows locale name: language[-Script][-TERRITORY]
    uint16_t code_page;
};

}  // namespace

struct CodePageTables {
    uint16_t number;
    const char* iconv_name;
    uint8_t lead_ranges[6];         // first and last lead byte of each range; zeros after the last
    char16_t unicode_default;       // what bytes without a character become
    std::span<const TableRun> out;  // key: UTF-16 unit; value: byte, or lead << 8 | trail
    std::span<const TableRun> in;   // key: byte, or lead << 8 | trail; value: UTF-16 unit
};

namespace {

#include "platform/posix/code_page_data.inc"

constexpr char DEFAULT_CHARACTER = '?';

const CodePageTables* tables_for(unsigned code_page)
{
    for (const CodePageTables& tables : CODE_PAGE_TABLES) {
        if (tables.number == code_page)
            return &tables;
    }
    return nullptr;
}

// What iconv makes of `data` alone, its shift state ended, when that fits in
// `room` bytes; 0 when it fails.
std::size_t convert_alone(iconv_t converter, std::string_view data, char* out, std::size_t room)
{
    if (converter == NO_CONVERTER)
        return 0;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(data.data());
    std::size_t in_left = data.size();
    char* at = out;
    std::size_t out_left = room;
    if (iconv(converter, &in, &in_left, &at, &out_left) == static_cast<std::size_t>(-1) || in_left != 0
        || iconv(converter, nullptr, nullptr, &at, &out_left) == static_cast<std::size_t>(-1))
        return 0;
    return static_cast<std::size_t>(at - out);
}

bool is_surrogate(char32_t point)
{
    return point >= 0xD800 && point <= 0xDFFF;
}

}  // namespace

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

void append_utf8(std::string& text, char32_t point)
{
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// Wine turns a Unix locale name into a Windows one (language, a script when
// the modifier names one, territory; the codeset and other modifiers play no
// part) and takes that locale's code page.
unsigned code_page_for_locale(std::string_view locale)
{
    std::string_view modifier;
    if (std::size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    std::size_t underscore = locale.find('_');
    std::string name(locale.substr(0, underscore));
    if (modifier == "latin")
        name += "-Latn";
    else if (modifier == "cyrillic")
        name += "-Cyrl";
    else if (modifier == "devanagari")
        name += "-Deva";
    if (underscore != std::string_view::npos)
        name.append("-").append(locale.substr(underscore + 1));
    for (const LocaleCodePage& row : LOCALE_CODE_PAGES) {
        if (row.name == name)
            return row.code_page;
    }
    return DEFAULT_CODE_PAGE;
}

unsigned code_page_of_environment()
{
    // Wine takes the locale of character types; where that is C, because the
    // machine lacks the locale named, it looks at LC_ALL's name again. So
    // LC_ALL counts by its name alone, LC_CTYPE and LANG only when the
    // machine has their locale.
    if (const char* all = std::getenv("LC_ALL"); all && *all)
        return code_page_for_locale(all);
    locale_t available = newlocale(LC_CTYPE_MASK, "", locale_t{});
    if (!available)
        return DEFAULT_CODE_PAGE;
    freelocale(available);
    for (const char* variable : { "LC_CTYPE", "LANG" }) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return code_page_for_locale(value);
    }
    return DEFAULT_CODE_PAGE;
}

FileSystemCharset file_system_charset_of_environment()
{
    locale_t locale = newlocale(LC_CTYPE_MASK, "", locale_t{});
    if (!locale)
        return FileSystemCharset::SEVEN_BIT;
    std::string_view charset = nl_langinfo_l(CODESET, locale);
    FileSystemCharset result = charset == "ANSI_X3.4-1968" ? FileSystemCharset::SEVEN_BIT : FileSystemCharset::UTF8;
    freelocale(locale);
    return result;
}

NameConverter::NameConverter(unsigned code_page, FileSystemCharset charset)
    : code_page_(code_page)
    , charset_(charset)
    , tables_(tables_for(code_page))
{
    if (!tables_ && code_page != UTF8_CODE_PAGE) {
        code_page_ = DEFAULT_CODE_PAGE;
        tables_ = tables_for(DEFAULT_CODE_PAGE);
    }
    if (!tables_)
        return;
    const uint8_t* range = tables_->lead_ranges;
    for (std::size_t i = 0; i + 1 < std::size(tables_->lead_ranges) && range[i] != 0; i += 2) {
        for (unsigned byte = range[i]; byte <= range[i + 1]; ++byte)
            lead_bytes_[byte / 64] |= uint64_t{ 1 } << (byte % 64);
    }
}

NameConverter::~NameConverter()
{
    if (to_ansi_ != NO_CONVERTER)
        iconv_close(to_ansi_);
    if (to_utf8_ != NO_CONVERTER)
        iconv_close(to_utf8_);
}

const char* NameConverter::iconv_name() const
{
    return tables_ ? tables_->iconv_name : "UTF-8";
}

// The rule that tools/codepages/generate.py builds the runs against: ASCII as
// it is, a surrogate '?', else what iconv makes of the unit alone when that
// is one byte (or two, in a double-byte code page), else '?'. Without iconv's
// converter every unit beyond ASCII that no run names becomes '?'.
const uint16_t* NameConverter::out_block(unsigned high) const
{
    std::unique_ptr<uint16_t[]>& block = out_blocks_[high];
    if (block)
        return block.get();
    auto values = std::make_unique<uint16_t[]>(BLOCK);
    if (to_ansi_ == NO_CONVERTER)
        to_ansi_ = iconv_open(tables_->iconv_name, "UTF-8");
    std::size_t room = tables_->lead_ranges[0] != 0 ? 2 : 1;
    for (unsigned low = 0; low < BLOCK; ++low) {
        char32_t unit = (high << 8) | low;
        values[low] = DEFAULT_CHARACTER;
        if (unit < 0x80) {
            values[low] = static_cast<uint16_t>(unit);
        } else if (!is_surrogate(unit)) {
            std::string utf8;
            append_utf8(utf8, unit);
            unsigned char bytes[4];
            std::size_t size = convert_alone(to_ansi_, utf8, reinterpret_cast<char*>(bytes), room);
            if (size == 1)
                values[low] = bytes[0];
            else if (size == 2)
                values[low] = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
        }
    }
    for (const TableRun& run : tables_->out) {
        for (unsigned i = 0; i < run.count; ++i) {
            unsigned key = run.first + i * run.key_step;
            if (key >> 8 == high)
                values[key & 0xFF] = static_cast<uint16_t>(run.value + i * run.value_step);
        }
    }
    block = std::move(values);
    return block.get();
}

// Likewise: ASCII as it is, else the one BMP character that iconv makes of the
// bytes alone, else the code page's Unicode default.
const char16_t* NameConverter::in_row(unsigned lead) const
{
    std::unique_ptr<char16_t[]>& row = in_rows_[lead];
    if (row)
        return row.get();
    auto units = std::make_unique<char16_t[]>(BLOCK);
    if (to_utf8_ == NO_CONVERTER)
        to_utf8_ = iconv_open("UTF-8", tables_->iconv_name);
    for (unsigned byte = 0; byte < BLOCK; ++byte) {
        units[byte] = tables_->unicode_default;
        if (lead == 0 && byte < 0x80) {
            units[byte] = static_cast<char16_t>(byte);
            continue;
        }
        char bytes[2] = { static_cast<char>(lead), static_cast<char>(byte) };
        std::string_view data = lead == 0 ? std::string_view(bytes + 1, 1) : std::string_view(bytes, 2);
        char utf8[8];
        std::size_t size = convert_alone(to_utf8_, data, utf8, sizeof utf8);
        char32_t point;
        if (size > 0 && read_utf8_character(std::string_view(utf8, size), &point) == size && point < 0x10000)
            units[byte] = static_cast<char16_t>(point);
    }
    unsigned first = lead << 8;
    for (const TableRun& run : tables_->in) {
        for (unsigned i = 0; i < run.count; ++i) {
            unsigned key = run.first + i * run.key_step;
            if (key >= first && key < first + BLOCK)
                units[key - first] = static_cast<char16_t>(run.value + i * run.value_step);
        }
    }
    row = std::move(units);
    return row.get();
}

void NameConverter::append_unit(std::string& ansi, char16_t unit) const
{
    if (unit < 0x80) {
        ansi += static_cast<char>(unit);
        return;
    }
    uint16_t value = out_block(unit >> 8)[unit & 0xFF];
    if (value > 0xFF)
        ansi += static_cast<char>(value >> 8);
    ansi += static_cast<char>(value & 0xFF);
}

std::string NameConverter::to_ansi(std::string_view name) const
{
    // Most names are ASCII, which needs no conversion.
    if (is_ascii(name))
        return std::string(name);
    std::string ansi;
    ansi.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        char32_t point;
        at += read_name_character(name.substr(at), charset_, &point);
        if (!tables_) {
            append_utf8(ansi, point);
        } else if (point >= 0x10000) {
            append_unit(ansi, static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            append_unit(ansi, static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            append_unit(ansi, static_cast<char16_t>(point));
        }
    }
    return ansi;
}

std::string NameConverter::to_utf8(std::string_view ansi) const
{
    if (is_ascii(ansi))
        return std::string(ansi);
    std::string utf8;
    utf8.reserve(ansi.size() * 2);
    for (std::size_t at = 0; at < ansi.size();) {
        auto byte = static_cast<unsigned char>(ansi[at]);
        char32_t point = byte;
        if (!tables_) {
            at += read_utf8_character(ansi.substr(at), &point);
        } else if (byte < 0x80) {
            ++at;
        } else if (is_lead_byte(byte) && at + 1 < ansi.size()) {
            point = in_row(byte)[static_cast<unsigned char>(ansi[at + 1])];
            at += 2;
        } else {
            point = in_row(0)[byte];
            ++at;
        }
        append_utf8(utf8, point);
    }
    return utf8;
}

const NameConverter& names()
{
    static const NameConverter converter(code_page_of_environment(), file_system_charset_of_environment());
    return converter;
}

}  // namespace platform::posix
