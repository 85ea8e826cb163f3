// The POSIX platform's names: in every code page Wine gives, names read as
// UTF-8 or in 7 bits, the conversion makes one character of each UTF-16 unit
// and never splits a two-byte one, converts a name as it converts each of its
// characters, and takes back unchanged every name of characters that it can
// take back one by one; between UTF-8 and Windows-1252 it is the identity
// both ways for every name that Microsoft's table holds. The order in which Wine lists names is a
// strict weak ordering that matches Wine's rule (UTF-16 units compared after
// upper-casing each) on fuzzed triples.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/posix/names.h"
#include "platform/posix/order_key.h"

namespace {

using platform::posix::listed_before;
using platform::posix::order_key;

// Windows-1252 from 0x80 to 0x9F as Microsoft publishes it; 0 where the code
// page has no character. From 0xA0 on it is Latin-1.
constexpr std::array<char32_t, 32> HIGH_CONTROLS = { 0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
    0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC,
    0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178 };

char32_t code_point_of(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? HIGH_CONTROLS[byte - 0x80] : byte;
}

std::optional<unsigned char> byte_of(char32_t point)
{
    if (point < 0x80 || (point >= 0xA0 && point <= 0xFF))
        return static_cast<unsigned char>(point);
    auto found = std::find(HIGH_CONTROLS.begin(), HIGH_CONTROLS.end(), point);
    if (point == 0 || found == HIGH_CONTROLS.end())
        return std::nullopt;
    return static_cast<unsigned char>(0x80 + (found - HIGH_CONTROLS.begin()));
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

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
std::optional<std::u32string> decode(const std::string& text)
{
    std::u32string points;
    for (std::size_t at = 0; at < text.size();) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80   ? 1
            : lead >= 0xC2 && lead <= 0xDF ? 2
            : lead >= 0xE0 && lead <= 0xEF ? 3
            : lead >= 0xF0 && lead <= 0xF4 ? 4
                                           : 0;
        if (length == 0 || at + length > text.size())
            return std::nullopt;
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            point = (point << 6) | (next & 0x3F);
        }
        constexpr char32_t SMALLEST[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (point < SMALLEST[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
        points += point;
        at += length;
    }
    return points;
}

// Wine's rule itself: the UTF-16 units, each upper-cased.
std::u16string wine_units(const std::u32string& points)
{
    std::u16string units;
    for (char32_t point : points) {
        if (point >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            units += platform::posix::upper_unit(static_cast<char16_t>(point));
        }
    }
    return units;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

using platform::posix::NameConverter;

constexpr unsigned CODE_PAGES[] = { 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,
    platform::posix::UTF8_CODE_PAGE };

using platform::posix::FileSystemCharset;

// One converter per code page and way of reading names, made once: their
// tables fill as inputs need.
const NameConverter& converter_for(unsigned code_page, FileSystemCharset charset = FileSystemCharset::UTF8)
{
    static std::array<std::unique_ptr<NameConverter>, 2 * std::size(CODE_PAGES)> converters;
    std::size_t at = static_cast<std::size_t>(
        std::find(std::begin(CODE_PAGES), std::end(CODE_PAGES), code_page) - std::begin(CODE_PAGES));
    if (charset == FileSystemCharset::SEVEN_BIT)
        at += std::size(CODE_PAGES);
    if (!converters[at])
        converters[at] = std::make_unique<NameConverter>(code_page, charset);
    return *converters[at];
}

const NameConverter& converter()
{
    return converter_for(1252);
}

// A name split into its characters as Wine reads them.
std::vector<std::string> characters_of(const std::string& name, FileSystemCharset charset)
{
    std::vector<std::string> characters;
    for (std::size_t at = 0; at < name.size();) {
        char32_t point;
        std::size_t size = platform::posix::read_name_character(std::string_view(name).substr(at), charset, &point);
        characters.push_back(name.substr(at, size));
        at += size;
    }
    return characters;
}

std::size_t utf16_units(const std::string& character, FileSystemCharset charset)
{
    char32_t point;
    platform::posix::read_name_character(character, charset, &point);
    return point >= 0x10000 ? 2 : 1;
}

// The code page's characters in converted text: a lead byte and the byte
// after it, or one byte; false when a lead byte ends the text.
bool split_ansi(const NameConverter& names, const std::string& ansi, std::size_t* count)
{
    *count = 0;
    for (std::size_t at = 0; at < ansi.size(); ++(*count)) {
        if (!names.is_lead_byte(static_cast<unsigned char>(ansi[at])))
            ++at;
        else if (at + 1 < ansi.size())
            at += 2;
        else
            return false;
    }
    return true;
}

void check_code_page(unsigned code_page, FileSystemCharset charset, const std::string& bytes)
{
    const NameConverter& names = converter_for(code_page, charset);
    std::vector<std::string> characters = characters_of(bytes, charset);
    std::string ansi = names.to_ansi(bytes);

    // A name converts as its characters do, one after another.
    std::string joined;
    std::size_t units = 0;
    for (const std::string& character : characters) {
        joined += names.to_ansi(character);
        units += utf16_units(character, charset);
    }
    FUZZ_CHECK(ansi == joined);

    // One character for each UTF-16 unit (for each character in UTF-8, which
    // has no units to count), and none split.
    std::size_t count = 0;
    if (code_page == platform::posix::UTF8_CODE_PAGE) {
        FUZZ_CHECK(decode(ansi).has_value());
        FUZZ_CHECK(decode(ansi)->size() == characters.size());
    } else {
        FUZZ_CHECK(split_ansi(names, ansi, &count));
        FUZZ_CHECK(count == units);
    }

    // The characters that come back unchanged alone come back unchanged
    // together: nothing in the way back depends on what stands beside.
    std::string kept;
    for (const std::string& character : characters) {
        if (names.to_utf8(names.to_ansi(character)) == character)
            kept += character;
    }
    FUZZ_CHECK(names.to_utf8(names.to_ansi(kept)) == kept);

    // Any bytes come in as UTF-8, ASCII as it is.
    std::string back = names.to_utf8(bytes);
    FUZZ_CHECK(decode(back).has_value());
    if (platform::posix::is_ascii(bytes))
        FUZZ_CHECK(back == bytes && ansi == bytes);
}

// A name the code page holds, made from any bytes: in Windows-1252 and in
// UTF-8.
std::pair<std::string, std::string> representable(const std::string& bytes)
{
    std::string ansi;
    std::string utf8;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        char32_t point = code_point_of(byte);
        if (point == 0)
            continue;
        ansi += static_cast<char>(byte);
        append_utf8(utf8, point);
    }
    return { ansi, utf8 };
}

void check_conversion(const std::string& bytes)
{
    const auto& names = converter();
    FUZZ_CHECK(platform::posix::is_ascii(bytes)
        == std::none_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));

    auto [ansi, utf8] = representable(bytes);
    FUZZ_CHECK(names.to_utf8(ansi) == utf8);
    FUZZ_CHECK(names.to_ansi(utf8) == ansi);

    // Any bytes as a name from the file system: converted without a crash,
    // and back unchanged whenever every character has a place in the code page.
    std::string converted = names.to_ansi(bytes);
    std::string back = names.to_utf8(converted);
    std::optional<std::u32string> points = decode(bytes);
    if (!points)
        return;
    std::string expected;
    for (char32_t point : *points) {
        std::optional<unsigned char> byte = byte_of(point);
        if (!byte)
            return;
        expected += static_cast<char>(*byte);
    }
    FUZZ_CHECK(converted == expected);
    FUZZ_CHECK(back == bytes);
}

struct Name {
    std::string native;
    std::string key;
};

bool before(const Name& a, const Name& b)
{
    return listed_before(a.key, a.native, b.key, b.native);
}

void check_order(const std::array<std::string, 3>& natives)
{
    std::array<Name, 3> names;
    for (std::size_t i = 0; i < 3; ++i) {
        names[i] = Name{ natives[i], order_key(natives[i]) };
        // An ASCII name's key is the name upper-cased, which lets the search
        // key such names without the general conversion.
        if (platform::posix::is_ascii(natives[i])) {
            std::string upper = natives[i];
            std::transform(upper.begin(), upper.end(), upper.begin(),
                [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
            FUZZ_CHECK(names[i].key == upper);
        }
    }
    for (const Name& a : names) {
        FUZZ_CHECK(!before(a, a));
        for (const Name& b : names) {
            FUZZ_CHECK(!(before(a, b) && before(b, a)));
            // Total: only equal names are tied.
            FUZZ_CHECK(before(a, b) || before(b, a) || a.native == b.native);
            for (const Name& c : names) {
                FUZZ_CHECK(!(before(a, b) && before(b, c)) || before(a, c));
            }
            std::optional<std::u32string> pa = decode(a.native);
            std::optional<std::u32string> pb = decode(b.native);
            if (pa && pb)
                FUZZ_CHECK(sign(a.key.compare(b.key)) == sign(wine_units(*pa).compare(wine_units(*pb))));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    unsigned code_page = data.PickValueInArray(CODE_PAGES);
    FileSystemCharset charset = data.ConsumeBool() ? FileSystemCharset::SEVEN_BIT : FileSystemCharset::UTF8;
    std::array<std::string, 3> raw;
    for (std::string& name : raw) {
        name = data.ConsumeRandomLengthString(48);
        check_conversion(name);
        check_code_page(code_page, charset, name);
    }
    check_order(raw);
    // Names that the code page holds, in UTF-8: accented letters in both
    // cases, where the order folds case beyond ASCII.
    std::array<std::string, 3> accented;
    for (std::size_t i = 0; i < 3; ++i)
        accented[i] = representable(raw[i]).second;
    check_order(accented);
    return 0;
}
