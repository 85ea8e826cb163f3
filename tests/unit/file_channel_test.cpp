#include "services/file_channel.h"

#include "sim_test.h"

namespace {

class FileChannelTest : public SimTest { };

int32_t open_output(const std::string& name, int32_t number)
{
    return open_channel(name, MODE_OUTPUT, ACCESS_WRITE, 2, number, 0, "ascii");
}

TEST_F(FileChannelTest, KeywordParse)
{
    struct Row {
        std::optional<std::string_view> keyword;
        Encoding expected;
    };
    const Row rows[] = {
        { std::nullopt, ENCODING_PLAIN },
        { "ascii", ENCODING_PLAIN },
        { "ASCII", ENCODING_PLAIN },
        { "latin", ENCODING_PLAIN },
        { "UTF-8", ENCODING_UTF8 },
        { "utf8", ENCODING_UTF8 },
        { "UTF-8x", ENCODING_UTF8 },
        { "UTF-16", ENCODING_UTF16 },
        { "utf16", ENCODING_UTF16 },
        { "UTF-16LE", ENCODING_PLAIN },
        { "UTF-32", ENCODING_UTF32 },
        { "Utf32", ENCODING_UTF32 },
        { "UTF", ENCODING_PLAIN },
        { "UTF-", ENCODING_PLAIN },
        { "UTF--8", ENCODING_PLAIN },
        { "", ENCODING_PLAIN },
        { "UT", ENCODING_PLAIN },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keyword ? std::string(*row.keyword) : "(absent)");
        EXPECT_EQ(parse_encoding_keyword(row.keyword), row.expected);
    }
}

TEST_F(FileChannelTest, FreeNumberSearchAndTableLimits)
{
    EXPECT_EQ(find_free_file_number(), 1);
    EXPECT_EQ(find_free_file_number(), 1);  // the search reserves nothing
    for (int32_t n = 1; n <= MAX_FILE_NUMBER; ++n)
        ASSERT_EQ(open_output("f" + std::to_string(n), n), FILE_OK);
    EXPECT_EQ(find_free_file_number(), 0);
    EXPECT_EQ(open_output("zero", 0), FILE_ERR_INVALID);
    EXPECT_EQ(open_output("over", 255), FILE_ERR_INVALID);
    EXPECT_EQ(open_output("again", 7), FILE_ERR_INVALID);
    EXPECT_EQ(put_bytes(255, 0, "x"), FILE_ERR_INVALID);
    EXPECT_EQ(close_channel(255), FILE_ERR_INVALID);
    EXPECT_EQ(close_channel(0), FILE_OK);
    EXPECT_EQ(sim::open_streams(), 0);
    EXPECT_EQ(find_free_file_number(), 1);
}

TEST_F(FileChannelTest, WritesBytesUnchangedAndTruncatesAtOpen)
{
    sim::put_file("list.txt", "old contents");
    ASSERT_EQ(open_output("list.txt", 1), FILE_OK);
    EXPECT_EQ(sim::stream_buffer_size(), 8192u);
    EXPECT_EQ(put_bytes(1, 0, "a\r\n"), FILE_OK);
    EXPECT_EQ(put_bytes(1, 0, "b\n\xFF"), FILE_OK);
    EXPECT_EQ(put_bytes(1, 0, ""), FILE_OK);
    EXPECT_EQ(close_channel(0), FILE_OK);
    EXPECT_EQ(sim::file_contents("list.txt"), std::string("a\r\nb\n\xFF"));
}

TEST_F(FileChannelTest, OpenFailuresLeaveTheChannelFree)
{
    sim::refuse_open("NewOverridelist.txt");
    EXPECT_EQ(open_output("NewOverridelist.txt", 1), FILE_ERR_OPEN);
    EXPECT_EQ(find_free_file_number(), 1);
    EXPECT_EQ(put_bytes(1, 0, "x"), FILE_ERR_INVALID);
    EXPECT_EQ(open_channel("m", 5, 0, 0, 1, 0, std::nullopt), FILE_ERR_INVALID);
    EXPECT_EQ(sim::count_calls("atexit"), 1);  // registered once, at the first open
}

TEST_F(FileChannelTest, SlashesBecomeBackslashes)
{
    ASSERT_EQ(open_output("sub/list.txt", 1), FILE_OK);
    EXPECT_EQ(close_channel(1), FILE_OK);
    EXPECT_TRUE(sim::file_contents("sub\\list.txt").has_value());
}

TEST_F(FileChannelTest, SecondOpenOnAnOpenNumberDisturbsNothing)
{
    ASSERT_EQ(open_output("first", 1), FILE_OK);
    EXPECT_EQ(open_output("second", 1), FILE_ERR_INVALID);
    EXPECT_EQ(put_bytes(1, 0, "kept"), FILE_OK);
    EXPECT_EQ(close_channel(1), FILE_OK);
    EXPECT_EQ(sim::file_contents("first"), "kept");
    EXPECT_FALSE(sim::file_contents("second").has_value());
    EXPECT_EQ(close_channel(1), FILE_ERR_INVALID);
    EXPECT_EQ(put_bytes(1, 0, "late"), FILE_ERR_INVALID);
}

TEST_F(FileChannelTest, AtExitClosesAFileLeftOpen)
{
    ASSERT_EQ(open_output("left.txt", 1), FILE_OK);
    EXPECT_EQ(put_bytes(1, 0, "pending"), FILE_OK);
    EXPECT_EQ(sim::file_contents("left.txt"), "");  // still in the stream's buffer
    ASSERT_EQ(sim::at_exit_entries(), 1u);
    EXPECT_THROW(platform::exit_process(0), sim::ProcessExit);
    EXPECT_EQ(sim::file_contents("left.txt"), "pending");
    EXPECT_EQ(sim::open_streams(), 0);
}

TEST_F(FileChannelTest, ShortWriteAndFailedWriteOutAreErrors)
{
    ASSERT_EQ(open_output("a", 1), FILE_OK);
    sim::limit_writes(3);
    EXPECT_EQ(put_bytes(1, 0, "abcdef"), FILE_ERR_IO);
    EXPECT_EQ(close_channel(0), FILE_ERR_IO);
    EXPECT_EQ(sim::file_contents("a"), "abc");

    restart();
    ASSERT_EQ(open_output("b", 1), FILE_OK);
    ASSERT_EQ(open_output("c", 2), FILE_OK);
    sim::fail_write_out();
    EXPECT_EQ(put_bytes(1, 0, "buffered"), FILE_OK);
    EXPECT_EQ(close_channel(0), FILE_ERR_IO);
    EXPECT_EQ(sim::open_streams(), 0);  // every channel is still closed
    EXPECT_EQ(find_free_file_number(), 1);
}

}  // namespace
