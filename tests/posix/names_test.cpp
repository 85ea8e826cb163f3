// File names between UTF-8 and the ANSI code page: the code page Wine gives a
// locale, the conversion both ways in the code pages Wine gives, and the names
// that the platform calls take and give.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/order_key.h"
#include "posix/temp_dir.h"

namespace {

using platform::posix::NameConverter;

// The process's converter follows the locale at its first use; every test of
// this program sees Windows-1252.
[[maybe_unused]] const bool LOCALE_FIXED = setenv("LC_ALL", "C.UTF-8", 1) == 0;

const std::string E_ACUTE_UTF8 = "\xC3\xA9";
const std::string E_ACUTE_ANSI = "\xE9";

struct LocaleRow {
    const char* locale;
    unsigned code_page;
};

// What Wine's GetACP gave under every locale this system supports.
constexpr LocaleRow WINE_LOCALES[] = {
#include "posix/locale_code_pages.inc"
};

TEST(PosixNames, CodePageOfEveryLocaleAsWineGivesIt)
{
    for (const LocaleRow& row : WINE_LOCALES) {
        SCOPED_TRACE(row.locale);
        EXPECT_EQ(platform::posix::code_page_for_locale(row.locale), row.code_page);
    }
    // Neither the codeset nor a modifier that names no script plays a part.
    EXPECT_EQ(platform::posix::code_page_for_locale("ru_RU.ISO-8859-5@euro"), 1251u);
    EXPECT_EQ(platform::posix::code_page_for_locale("uz_UZ.UTF-8@cyrillic"), 1251u);
    EXPECT_EQ(platform::posix::code_page_for_locale(""), 1252u);
    EXPECT_EQ(platform::posix::code_page_for_locale("xx_YY.UTF-8"), 1252u);
}

// Sets the locale variables for one test and puts the old values back.
class LocaleVariables {
public:
    LocaleVariables()
    {
        for (const char* name : NAMES) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~LocaleVariables()
    {
        for (std::size_t i = 0; i < std::size(NAMES); ++i)
            saved_[i] ? setenv(NAMES[i], saved_[i]->c_str(), 1) : unsetenv(NAMES[i]);
    }
    LocaleVariables(const LocaleVariables&) = delete;
    LocaleVariables& operator=(const LocaleVariables&) = delete;

    // Each of LC_ALL, LC_CTYPE and LANG: set when given, else unset.
    static unsigned code_page_with(const char* all, const char* ctype, const char* lang)
    {
        const char* values[] = { all, ctype, lang };
        for (std::size_t i = 0; i < std::size(NAMES); ++i)
            values[i] ? setenv(NAMES[i], values[i], 1) : unsetenv(NAMES[i]);
        return platform::posix::code_page_of_environment();
    }

private:
    static constexpr const char* NAMES[] = { "LC_ALL", "LC_CTYPE", "LANG" };
    std::vector<std::optional<std::string>> saved_;
};

bool generated(const char* locale)
{
    locale_t made = newlocale(LC_CTYPE_MASK, locale, locale_t{});
    if (made)
        freelocale(made);
    return made != locale_t{};
}

TEST(PosixNames, CodePageOfTheEnvironmentAsWinePicksIt)
{
    for (const char* locale : { "pl_PL.UTF-8", "ja_JP.UTF-8" })
        ASSERT_TRUE(generated(locale)) << locale << " is not generated here (tools/install-deps generates it)";
    ASSERT_FALSE(generated("pl_PL.ISO-8859-7"));

    LocaleVariables variables;
    EXPECT_EQ(variables.code_page_with(nullptr, nullptr, nullptr), 1252u);
    EXPECT_EQ(variables.code_page_with(nullptr, nullptr, "pl_PL.UTF-8"), 1250u);
    EXPECT_EQ(variables.code_page_with(nullptr, "ja_JP.UTF-8", "pl_PL.UTF-8"), 932u);
    EXPECT_EQ(variables.code_page_with("C", "ja_JP.UTF-8", "pl_PL.UTF-8"), 1252u);
    EXPECT_EQ(variables.code_page_with("", nullptr, "pl_PL.UTF-8"), 1250u);
    // A locale this machine lacks leaves the process in C, whose code page is
    // 1252, as if none were set; but Wine then reads LC_ALL's name itself.
    EXPECT_EQ(variables.code_page_with(nullptr, nullptr, "pl_PL.ISO-8859-7"), 1252u);
    EXPECT_EQ(variables.code_page_with(nullptr, "pl_PL.ISO-8859-7", "ja_JP.UTF-8"), 1252u);
    EXPECT_EQ(variables.code_page_with("pl_PL.ISO-8859-7", nullptr, "ja_JP.UTF-8"), 1250u);
}

TEST(PosixNames, NamesReadIn7BitsWhereTheLocaleIsC)
{
    ASSERT_TRUE(generated("C.UTF-8"));
    using platform::posix::FileSystemCharset;
    LocaleVariables variables;
    auto charset_with = [&](const char* all, const char* lang) {
        variables.code_page_with(all, nullptr, lang);
        return platform::posix::file_system_charset_of_environment();
    };
    EXPECT_EQ(charset_with(nullptr, "C.UTF-8"), FileSystemCharset::UTF8);
    EXPECT_EQ(charset_with(nullptr, "C"), FileSystemCharset::SEVEN_BIT);
    EXPECT_EQ(charset_with(nullptr, nullptr), FileSystemCharset::SEVEN_BIT);
    EXPECT_EQ(charset_with(nullptr, "xx_YY.UTF-8"), FileSystemCharset::SEVEN_BIT);
    EXPECT_EQ(charset_with("xx_YY.UTF-8", "C.UTF-8"), FileSystemCharset::SEVEN_BIT);

    // Each byte without its top bit, what Wine lists under C; 0x80 is a NUL,
    // which ends the name as the runtime copies it.
    NameConverter converter(1252, FileSystemCharset::SEVEN_BIT);
    EXPECT_EQ(converter.to_ansi("caf\xC3\xA9.dds"), "cafC).dds");
    EXPECT_EQ(converter.to_ansi("x\x80y"), std::string("x\0y", 3));
    EXPECT_EQ(platform::posix::order_key("caf\xC3\xA9", FileSystemCharset::SEVEN_BIT), "CAFC)");
    EXPECT_EQ(platform::posix::order_key("caf\xC3\xA9"), "CAF\xC3\x89");
}

struct Conversion {
    unsigned code_page;
    std::string utf8;
    std::string ansi;
};

// Bytes that the exe under Wine lists for these names.
TEST(PosixNames, NamesOutAsWineHandsThemOut)
{
    const std::string emoji = "\xF0\x9F\x98\x80";  // beyond the BMP: two UTF-16 units
    const Conversion cases[] = {
        { 1252, "g\xC4\x99\xC5\x9B.dds", "ges.dds" },  // gęś: best fit
        { 1252,
            "\xC5\x81\xC3\x93"
            "D\xC5\xB9",
            "L\xD3"
            "DZ" },                                                            // ŁÓDŹ
        { 1252, "\xEF\xBD\x86\xEF\xBD\x95\xEF\xBD\x8C\xEF\xBD\x8C", "full" },  // fullwidth
        { 1252, "\xE2\x82\xAC" + E_ACUTE_UTF8, "\x80" + E_ACUTE_ANSI },        // € é
        { 1252, "a" + emoji + "b", "a??b" },
        { 1252, "\xE8\xA1\xA8", "?" },  // 表
        { 1250, "g\xC4\x99\xC5\x9B.dds", "g\xEA\x9C.dds" },
        { 1251, "caf\xC3\xA9 na\xC3\xAFve", "cafe naive" },
        { 1251, "\xD0\x9C\xD0\xBE", "\xCC\xEE" },                                  // Мо
        { 932, "\xE8\xA1\xA8.dds", "\x95\\.dds" },                                 // 表: its trail byte is a backslash
        { 932, "\xEF\xBD\xB6\xEF\xBE\x80", "\xB6\xC0" },                           // halfwidth katakana: one byte each
        { 932, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\x93\xFA\x96{\x8C\xEA" },  // 日本語
        { 932, "caf\xC3\xA9 \xC5\x81", "cafe ?" },
        { 932, emoji, "??" },
        { 936, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xC8\xD5\xB1\xBE\xD5Z" },
        { 949, "\xED\x95\x9C", "\xC7\xD1" },  // 한
        { 950, "\xE6\x97\xA5\xE6\x9C\xAC", "\xA4\xE9\xA5\xBB" },
        { 874, "\xE0\xB9\x84\xE0\xB8\x97", "\xE4\xB7" },  // Thai
        { 1258, "\xC4\x90\xC6\xA1n", "\xD0\xF5n" },       // Đơn
        { 65001,
            "a\xFF"
            "b" + emoji,
            "a\xEF\xBF\xBD"
            "b" + emoji },
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(std::to_string(c.code_page) + " " + c.utf8);
        EXPECT_EQ(NameConverter(c.code_page).to_ansi(c.utf8), c.ansi);
    }
}

TEST(PosixNames, InvalidUtf8FallsApartAsWineDecodesIt)
{
    NameConverter converter(1252);
    const Conversion cases[] = {
        { 1252, "plain.txt", "plain.txt" },
        { 1252,
            "a\xFF"
            "b",
            "a?b" },  // a byte that starts nothing
        { 1252,
            "a\xC3"
            "b",
            "a?b" },                                // a lead byte without its follower
        { 1252, "a\xE4\xB8", "a?" },                // a sequence cut off at the end
        { 1252, "a\xE0\x80\x80.b", "a??.b" },       // overlong: lead and second byte, then the third alone
        { 1252, "a\xED\xA0\x80.b", "a??.b" },       // a surrogate
        { 1252, "a\xF0\x80\x80\x80.b", "a???.b" },  // overlong in four bytes
        { 1252, "a\xF4\x90\x80\x80.b", "a???.b" },  // beyond U+10FFFF
        { 1252, "a\xC0\xAF.b", "a??.b" },           // a lead that starts nothing
        { 1252,
            "a\xE9"
            "c",
            "a?" },  // cut off by the end: the last byte goes with it
        { 1252, std::string(600, 'x'), std::string(600, 'x') },
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(converter.to_ansi(c.utf8), c.ansi);
    }
}

TEST(PosixNames, PathsInAsWineTakesThem)
{
    const Conversion cases[] = {
        { 1252, "caf" + E_ACUTE_UTF8, "caf" + E_ACUTE_ANSI },
        { 1252, "\xC2\x81", "\x81" },             // a byte Wine's table keeps as a C1 control, and iconv's lacks
        { 932, "\xE8\xA1\xA8\\x", "\x95\\\\x" },  // a lead byte takes the backslash after it
        { 932, "\xEF\xBD\xB6", "\xB6" },
        { 936, "\xE2\x82\xAC", "\x80" },
        { 65001, "a\xEF\xBF\xBD", "a\xFF" },
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(std::to_string(c.code_page) + " " + c.utf8);
        EXPECT_EQ(NameConverter(c.code_page).to_utf8(c.ansi), c.utf8);
    }
}

TEST(PosixNames, LeadBytesOfTheDoubleByteCodePages)
{
    auto leads = [](unsigned code_page) {
        NameConverter converter(code_page);
        std::vector<unsigned> bytes;
        for (unsigned byte = 0; byte < 256; ++byte) {
            if (converter.is_lead_byte(static_cast<unsigned char>(byte)))
                bytes.push_back(byte);
        }
        return bytes;
    };
    auto range = [](unsigned first, unsigned last) {
        std::vector<unsigned> bytes;
        for (unsigned byte = first; byte <= last; ++byte)
            bytes.push_back(byte);
        return bytes;
    };
    std::vector<unsigned> shift_jis = range(0x81, 0x9F);
    for (unsigned byte : range(0xE0, 0xFC))
        shift_jis.push_back(byte);
    EXPECT_EQ(leads(932), shift_jis);
    for (unsigned code_page : { 936, 949, 950 })
        EXPECT_EQ(leads(code_page), range(0x81, 0xFE)) << code_page;
    for (unsigned code_page : { 874, 1250, 1252, 1258, 65001 })
        EXPECT_TRUE(leads(code_page).empty()) << code_page;
}

TEST(PosixNames, ACodePageWineNeverGivesIsTakenAs1252)
{
    NameConverter converter(437);
    EXPECT_EQ(converter.code_page(), 1252u);
    EXPECT_EQ(converter.to_ansi("g\xC4\x99\xC5\x9B"), "ges");
    EXPECT_EQ(NameConverter(65001).code_page(), 65001u);
}

// Wine's case table, not the C library's: they differ where Unicode gives a
// letter an upper case that is another letter's (final sigma, dotless i).
TEST(PosixNames, UpperCaseAsWineHasIt)
{
    using platform::posix::upper_unit;
    EXPECT_EQ(upper_unit(u'a'), u'A');
    EXPECT_EQ(upper_unit(u'\u00E9'), u'\u00C9');                    // é
    EXPECT_EQ(upper_unit(u'\u00FF'), u'\u0178');                    // ÿ
    EXPECT_EQ(upper_unit(u'\u0444'), u'\u0424');                    // ф
    EXPECT_EQ(upper_unit(u'\uFF41'), u'\uFF21');                    // fullwidth a
    EXPECT_EQ(upper_unit(u'\u03C2'), u'\u03C2');                    // ς stays, where glibc gives Σ
    EXPECT_EQ(upper_unit(u'\u0131'), u'\u0131');                    // ı stays, where glibc gives I
    EXPECT_EQ(upper_unit(u'\u00DF'), u'\u00DF');                    // ß
    EXPECT_EQ(upper_unit(char16_t{ 0xD83D }), char16_t{ 0xD83D });  // a surrogate
    // So the order keys of "ς" and "Σ" differ, and "ı" is not "I".
    EXPECT_NE(platform::posix::order_key("\xCF\x82"), platform::posix::order_key("\xCE\xA3"));
    EXPECT_EQ(platform::posix::order_key("\xC4\xB1x"), "\xC4\xB1X");
}

TEST(PosixNames, NamesOutInTheCodePageAndBackIn)
{
    TempDir root;
    // Opened by its ANSI name, created under its UTF-8 one.
    std::string ansi_path = root / ("caf" + E_ACUTE_ANSI + ".txt");
    platform::Stream* stream = platform::stream_open(ansi_path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(platform::stream_close(stream), 0);
    EXPECT_TRUE(std::filesystem::exists(root / ("caf" + E_ACUTE_UTF8 + ".txt")));

    root.dir("d" + E_ACUTE_UTF8);
    root.file("d" + E_ACUTE_UTF8 + "/inner");
    platform::FindData data{};
    std::string pattern = root / ("d" + E_ACUTE_ANSI + "/i*");
    platform::SearchHandle handle = platform::find_first(pattern.c_str(), &data);
    ASSERT_NE(handle, platform::SEARCH_FAILED);
    EXPECT_STREQ(data.name, "inner");
    platform::find_close(handle);

    pattern = root / "caf*";
    handle = platform::find_first(pattern.c_str(), &data);
    ASSERT_NE(handle, platform::SEARCH_FAILED);
    EXPECT_EQ(std::string(data.name), "caf" + E_ACUTE_ANSI + ".txt");
    platform::find_close(handle);
}

TEST(PosixNames, CurrentDirectoryFollowsTheWindowsContract)
{
    TempDir root;
    root.dir("d" + E_ACUTE_UTF8);
    std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir((root / ("d" + E_ACUTE_UTF8)).c_str()), 0);
    std::string expected = std::filesystem::canonical(root.path()).string() + "/d" + E_ACUTE_ANSI;
    auto length = static_cast<uint32_t>(expected.size());

    char buffer[4096];
    EXPECT_EQ(platform::get_current_directory(sizeof buffer, buffer), length);
    EXPECT_EQ(std::string(buffer), expected);

    char small[4] = { 'k', 'e', 'e', 'p' };
    EXPECT_EQ(platform::get_current_directory(sizeof small, small), length + 1);
    EXPECT_EQ(std::string(small, 4), "keep");
    EXPECT_EQ(platform::get_current_directory(length, buffer), length + 1);
    EXPECT_EQ(platform::get_current_directory(length + 1, buffer), length);

    ASSERT_EQ(chdir(previous.c_str()), 0);
}

}  // namespace
