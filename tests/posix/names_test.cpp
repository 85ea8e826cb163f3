// File names between UTF-8 and the ANSI code page: the code page of a locale,
// the conversion both ways, and the names that the platform calls take and
// give.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "posix/temp_dir.h"

namespace {

// The process's converter follows the locale at its first use; every test of
// this program sees Windows-1252.
[[maybe_unused]] const bool LOCALE_FIXED = setenv("LC_ALL", "C.UTF-8", 1) == 0;

const std::string E_ACUTE_UTF8 = "\xC3\xA9";
const std::string E_ACUTE_ANSI = "\xE9";

TEST(PosixNames, CodePageOfLocale)
{
    struct Case {
        const char* locale;
        const char* code_page;
    };
    const Case cases[] = {
        { "C", "WINDOWS-1252" },
        { "POSIX", "WINDOWS-1252" },
        { "C.UTF-8", "WINDOWS-1252" },
        { "en_US.UTF-8", "WINDOWS-1252" },
        { "de_DE@euro", "WINDOWS-1252" },
        { "pl_PL.UTF-8", "WINDOWS-1250" },
        { "ru_RU.UTF-8", "WINDOWS-1251" },
        { "sr_RS", "WINDOWS-1251" },
        { "sr_RS@latin", "WINDOWS-1250" },
        { "el_GR.UTF-8", "WINDOWS-1253" },
        { "tr_TR", "WINDOWS-1254" },
        { "th_TH.UTF-8", "CP874" },
        { "ja_JP.UTF-8", "CP932" },
        { "zh_CN.UTF-8", "CP936" },
        { "zh_TW.UTF-8", "CP950" },
        { "zh_HK", "CP950" },
        { "ko_KR.EUC-KR", "CP949" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_STREQ(platform::posix::code_page_for_locale(c.locale), c.code_page);
    }
}

TEST(PosixNames, ConversionReplacesWhatTheCodePageLacks)
{
    platform::posix::NameConverter converter("WINDOWS-1252");
    struct Case {
        std::string utf8;
        std::string ansi;
    };
    const Case cases[] = {
        { "plain.txt", "plain.txt" }, { "caf" + E_ACUTE_UTF8 + ".dds", "caf" + E_ACUTE_ANSI + ".dds" },
        { "\xE2\x82\xAC", "\x80" },  // the euro sign
        { "a\xE4\xB8\xAD"
          "b",
            "a?b" },  // a CJK character
        { "a\xFF"
          "b",
            "a?b" },  // a byte that starts nothing
        { "a\xC3"
          "b",
            "a?b" },            // a lead byte without its follower
        { "a\xE4\xB8", "a?" },  // a sequence cut off at the end
        // Bad sequences fall apart where Wine's decoder breaks them.
        { "a\xE0\x80\x80.b", "a??.b" },       // overlong: lead and second byte, then the third alone
        { "a\xED\xA0\x80.b", "a??.b" },       // a surrogate
        { "a\xF0\x80\x80\x80.b", "a???.b" },  // overlong in four bytes
        { "a\xF4\x90\x80\x80.b", "a???.b" },  // beyond U+10FFFF
        { "a\xC0\xAF.b", "a??.b" },           // a lead that starts nothing
        { "a\xE9"
          "c",
            "a?" },                                        // cut off by the end: the last byte goes with it
        { std::string(600, 'x'), std::string(600, 'x') },  // longer than one iconv chunk
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(converter.to_ansi(c.utf8), c.ansi);
    }
    EXPECT_EQ(converter.to_utf8("caf" + E_ACUTE_ANSI), "caf" + E_ACUTE_UTF8);
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
