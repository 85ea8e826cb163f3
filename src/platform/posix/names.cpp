// File-name conversion between UTF-8 and the ANSI code page of the locale, as
// Wine converts: by Wine's own tables, which the program carries.
#include "platform/posix/names.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "platform/posix/code_pages.h"
#include "platform/posix/locales.h"
#include "platform/posix/table_runs.h"

namespace platform::posix {

namespace {

constexpr char DEFAULT_CHARACTER = '?';
// No byte sequence of a code page has this value, so it marks a unit that the
// way in does not give.
constexpr uint16_t NOT_GIVEN = 0xFFFF;

const CodePageTables* tables_for(unsigned code_page)
{
    for (const CodePageTables& tables : code_page_tables()) {
        if (tables.number == code_page)
            return &tables;
    }
    return nullptr;
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
    for (const LocaleCodePage& row : locale_code_pages()) {
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
    std::string_view name = environment_ctype_locale();
    return locale_exists(name, host_locale_files()) ? code_page_for_locale(name) : DEFAULT_CODE_PAGE;
}

FileSystemCharset file_system_charset_of_environment()
{
    // Wine reads names in 7 bits in C (ASCII) and POSIX, which is also where
    // a locale the machine lacks leaves it; every other character set is
    // read as UTF-8 here.
    std::string_view name = environment_ctype_locale();
    return name.empty() || name == "C" || name == "POSIX" || !locale_exists(name, host_locale_files())
        ? FileSystemCharset::SEVEN_BIT
        : FileSystemCharset::UTF8;
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

// The single bytes, or the pairs of one lead byte: ASCII as it is, else
// what the runs give, else the code page's Unicode default.
const char16_t* NameConverter::in_row(unsigned lead) const
{
    std::unique_ptr<char16_t[]>& row = in_rows_[lead];
    if (row)
        return row.get();
    auto units = std::make_unique<char16_t[]>(ROW);
    std::fill_n(units.get(), ROW, tables_->unicode_default);
    if (lead == 0) {
        for (unsigned byte = 0; byte < 0x80; ++byte)
            units[byte] = static_cast<char16_t>(byte);
    }
    expand_runs(tables_->in, tables_->pool, lead << 8, std::span(units.get(), ROW));
    row = std::move(units);
    return row.get();
}

// ASCII as it is; else the first byte or pair, in the order of the runs in,
// that gives the unit, mended by the runs out where Wine's best fit answers
// otherwise; else '?'. A surrogate is given by nothing, so it is '?' too.
const uint16_t* NameConverter::out_table() const
{
    if (out_)
        return out_.get();
    constexpr std::size_t UNITS = 0x10000;
    auto values = std::make_unique<uint16_t[]>(UNITS);
    std::fill_n(values.get(), UNITS, NOT_GIVEN);
    for_each_entry(tables_->in, tables_->pool, [&](unsigned key, uint16_t unit) {
        if (unit >= 0x80 && values[unit] == NOT_GIVEN)
            values[unit] = static_cast<uint16_t>(key);
    });
    expand_runs(tables_->out, nullptr, 0, std::span(values.get(), UNITS));
    for (unsigned unit = 0; unit < UNITS; ++unit) {
        if (unit < 0x80)
            values[unit] = static_cast<uint16_t>(unit);
        else if (values[unit] == NOT_GIVEN)
            values[unit] = DEFAULT_CHARACTER;
    }
    out_ = std::move(values);
    return out_.get();
}

void NameConverter::append_unit(std::string& ansi, char16_t unit) const
{
    if (unit < 0x80) {
        ansi += static_cast<char>(unit);
        return;
    }
    uint16_t value = out_table()[unit];
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
