#include "services/console_output.h"

#include <array>
#include <utility>

#include "frame/process.h"
#include "sim_test.h"

namespace {

using Cursor = std::pair<int, int>;
using Window = std::array<int, 4>;

class ConsoleOutputTest : public SimTest {
protected:
    // A console whose window shows the top `window_rows` rows, full width.
    static void console(int16_t width, int16_t height, int16_t window_rows)
    {
        sim::make_console(width, height,
            platform::Rect{ 0, 0, static_cast<int16_t>(width - 1), static_cast<int16_t>(window_rows - 1) });
    }

    static std::vector<std::string> rows(int count)
    {
        std::vector<std::string> result;
        for (int row = 0; row < count; ++row)
            result.push_back(sim::console_row(row));
        return result;
    }

    static Cursor cursor() { return { sim::console_cursor().x, sim::console_cursor().y }; }

    static Window window()
    {
        platform::Rect w = sim::console_window();
        return { w.left, w.top, w.right, w.bottom };
    }

    static void write(const std::string& bytes) { console_write(bytes.data(), bytes.size()); }
};

TEST_F(ConsoleOutputTest, PlacesTextRowByRowAndEndsTheLine)
{
    const std::string long_text = std::string(256, 'a') + std::string(44, 'b');
    struct Row {
        const char* name;
        int16_t width;
        std::string text;
        std::vector<std::string> expected;
        int cell_writes;
    };
    const Row table[] = {
        { "short", 10, "abc", { "abc", "x" }, 1 },
        { "empty text", 10, "", { "", "x" }, 0 },
        { "exactly the width leaves an empty row", 10, "abcdefghij", { "abcdefghij", "", "x" }, 1 },
        { "wraps at the width", 10, "abcdefghijklmnopqrstuvw", { "abcdefghij", "klmnopqrst", "uvw", "x" }, 3 },
        { "CR goes back to column 0", 10, "abc\rZ", { "Zbc", "x" }, 2 },
        { "CR line", 10, "\r", { "", "x" }, 0 },
        { "LF inside the text", 10, "ab\ncd", { "ab", "cd", "x" }, 2 },
        { "high bytes as they are", 10, "\xE9\xFF\x82", { "\xE9\xFF\x82", "x" }, 1 },
        // 256 bytes fill 12 rows and 16 cells; the next run finishes that row.
        { "longer than one run", 20, long_text,
            { std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'),
                std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'),
                std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a'),
                std::string(16, 'a') + "bbbb", std::string(20, 'b'), std::string(20, 'b'), "", "x" },
            16 },
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        restart();
        console(row.width, 20, 20);
        print_line(row.text);
        EXPECT_EQ(sim::count_calls("WriteConsoleOutputA"), row.cell_writes);
        print_line("x");
        EXPECT_EQ(rows(static_cast<int>(row.expected.size())), row.expected);
        EXPECT_EQ(cursor(), Cursor(0, static_cast<int>(row.expected.size())));
        EXPECT_EQ(sim::stdout_bytes(), "");
    }
}

// The calls each request makes, in order: on a console one query at its start
// and one re-read of the view at its end (the first request also reads the
// view first), a cell write per row segment and none for the line end;
// redirected, one WriteFile per request and the view read once.
TEST_F(ConsoleOutputTest, CallsOfEachRequest)
{
    const std::string INFO = "GetConsoleScreenBufferInfo";
    console(10, 5, 5);
    print_line("abc");
    EXPECT_EQ(sim::calls(),
        (std::vector<std::string>{ INFO, INFO, "WriteConsoleOutputA", "SetConsoleCursorPosition", INFO, INFO,
            "SetConsoleCursorPosition", INFO }));
    EXPECT_EQ(cursor(), Cursor(0, 1));

    restart();
    print_line("abc");
    print_line("");
    EXPECT_EQ(sim::calls(), (std::vector<std::string>{ INFO, "WriteFile", "WriteFile", "WriteFile" }));
}

TEST_F(ConsoleOutputTest, BufferWiderThanTheWindowWrapsAtTheBufferWidth)
{
    sim::make_console(20, 5, platform::Rect{ 0, 0, 9, 4 });
    print_line(std::string(15, 'a'));
    print_line(std::string(25, 'b'));
    EXPECT_EQ(rows(4), (std::vector<std::string>{ std::string(15, 'a'), std::string(20, 'b'), "bbbbb", "" }));
}

TEST_F(ConsoleOutputTest, WindowMovesDownOverTheRowsBelowIt)
{
    console(10, 10, 4);
    sim::put_console_text({ 5, 7 }, "old");
    for (const char* line : { "l0", "l1", "l2", "l3", "l4", "l5" })
        print_line(line);
    EXPECT_EQ(rows(8), (std::vector<std::string>{ "l0", "l1", "l2", "l3", "l4", "l5", "", "     old" }));
    EXPECT_EQ(window(), (Window{ 0, 3, 9, 6 }));
    EXPECT_EQ(cursor(), Cursor(0, 6));
    EXPECT_EQ(sim::count_calls("SetConsoleWindowInfo"), 3);
    EXPECT_EQ(sim::count_calls("ScrollConsoleScreenBufferA"), 0);
}

TEST_F(ConsoleOutputTest, WholeBufferScrollsAtItsLastRow)
{
    console(10, 4, 4);
    sim::set_console_attribute(0x1E);
    for (const char* line : { "l0", "l1", "l2", "l3", "l4", "l5" })
        print_line(line);
    EXPECT_EQ(rows(4), (std::vector<std::string>{ "l3", "l4", "l5", "" }));
    EXPECT_EQ(sim::console_attribute({ 9, 3 }), 0x1E);
    EXPECT_EQ(sim::console_attribute({ 0, 2 }), 0x1E);
    EXPECT_EQ(cursor(), Cursor(0, 3));
    EXPECT_EQ(window(), (Window{ 0, 0, 9, 3 }));
    EXPECT_EQ(sim::count_calls("SetConsoleWindowInfo"), 0);
}

TEST_F(ConsoleOutputTest, ScrollsByManyRowsAtOnce)
{
    struct Row {
        int16_t buffer_rows;
        int line_feeds;
        std::vector<std::string> expected;
        int cursor_row;
        int window_top;
    };
    const Row table[] = {
        { 4, 1, { "r1", "r2", "r3", "" }, 3, 0 },
        // Fewer rows move than are scrolled: the rows between are cleared too.
        { 4, 3, { "r3", "", "", "" }, 3, 0 },
        { 4, 5, { "", "", "", "" }, 3, 0 },
        { 6, 1, { "r0", "r1", "r2", "r3", "r4", "r5" }, 4, 1 },
        // Two rows taken over below the window, then two scrolled.
        { 6, 4, { "r2", "r3", "r4", "r5", "", "" }, 5, 2 },
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::to_string(row.buffer_rows) + " rows, " + std::to_string(row.line_feeds) + " LF");
        restart();
        console(10, row.buffer_rows, 4);
        for (int16_t r = 0; r < row.buffer_rows; ++r)
            sim::put_console_text({ 0, r }, "r" + std::to_string(r));
        sim::set_console_cursor({ 0, 3 });
        write(std::string(row.line_feeds, '\n'));
        EXPECT_EQ(rows(row.buffer_rows), row.expected);
        EXPECT_EQ(cursor(), Cursor(0, row.cursor_row));
        EXPECT_EQ(window()[1], row.window_top);
    }
}

TEST_F(ConsoleOutputTest, TextEndingInTheLastCellDefersItsScroll)
{
    console(10, 4, 4);
    sim::set_console_cursor({ 0, 3 });
    write("abcdefghij");
    EXPECT_EQ(sim::console_row(3), "abcdefghij");
    EXPECT_EQ(cursor(), Cursor(9, 3));
    EXPECT_EQ(sim::count_calls("ScrollConsoleScreenBufferA"), 0);
    write("k");
    EXPECT_EQ(rows(4), (std::vector<std::string>{ "", "", "abcdefghij", "k" }));
    EXPECT_EQ(cursor(), Cursor(1, 3));
}

TEST_F(ConsoleOutputTest, TallerWindowKeepsTheFirstRegionHeight)
{
    console(10, 8, 4);
    sim::put_console_text({ 0, 5 }, "keep");
    print_line("a");
    sim::set_console_window({ 0, 0, 9, 5 });
    for (const char* line : { "b", "c", "d", "e" })
        print_line(line);
    EXPECT_EQ(rows(6), (std::vector<std::string>{ "c", "d", "e", "", "", "keep" }));
    EXPECT_EQ(cursor(), Cursor(0, 3));
    EXPECT_EQ(window(), (Window{ 0, 0, 9, 5 }));
    EXPECT_EQ(sim::count_calls("SetConsoleWindowInfo"), 0);
}

// The window made shorter, then dragged down by the cursor: the region's
// height from the first request would reach below the buffer, and the lines
// put there would be lost.
TEST_F(ConsoleOutputTest, ShorterWindowKeepsTheRegionInsideTheBuffer)
{
    console(10, 4, 4);
    print_line("a");
    sim::set_console_window({ 0, 0, 9, 1 });
    for (const char* line : { "b", "c", "d", "e", "f" })
        print_line(line);
    EXPECT_EQ(rows(4), (std::vector<std::string>{ "a", "b", "f", "" }));
    EXPECT_EQ(cursor(), Cursor(0, 3));
    EXPECT_EQ(sim::console_argument_faults(), 0);
}

TEST_F(ConsoleOutputTest, FailedGeometryQueries)
{
    struct Row {
        int failing_query;
        std::string row0;
        std::string row10;
        uint16_t attribute;
        std::string stream;
    };
    const Row table[] = {
        { 1, "", "", 0x1E, "abc\r\n" },       // no view: stream mode for the whole run
        { 2, "abc", "", 7, "" },              // fallback geometry for the text request
        { 3, "", "     abc", 0x1E, "\r\n" },  // the re-read fails: stream mode from then on
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.failing_query);
        restart();
        console(100, 30, 30);
        sim::set_console_cursor({ 5, 10 });
        sim::set_console_attribute(0x1E);
        sim::fail_screen_info(row.failing_query);
        print_line("abc");
        print_line("d");
        EXPECT_EQ(sim::console_row(0), row.row0);
        EXPECT_EQ(sim::console_row(10), row.row10);
        EXPECT_EQ(sim::console_attribute({ 0, 0 }), row.row0.empty() ? 7 : row.attribute);
        EXPECT_EQ(sim::stdout_bytes(), row.stream + (row.stream.empty() ? "" : "d\r\n"));
    }
}

TEST_F(ConsoleOutputTest, FailedCellWriteDropsTheRestOfTheRun)
{
    console(10, 5, 5);
    sim::fail_console_output(1);
    write("abcdefghijkl\r\nxy");
    EXPECT_EQ(rows(3), (std::vector<std::string>{ "", "xy", "" }));
    EXPECT_EQ(cursor(), Cursor(2, 1));
    EXPECT_EQ(sim::count_calls("WriteConsoleOutputA"), 2);
}

TEST_F(ConsoleOutputTest, CursorRightOfAnOldViewStartsANewRow)
{
    console(10, 5, 5);
    print_line("a");
    sim::make_console(20, 5, { 0, 0, 19, 4 });  // widened since the view was read
    sim::set_console_cursor({ 10, 0 });
    write("xyz");
    EXPECT_EQ(rows(2), (std::vector<std::string>{ "", "xyz" }));
    EXPECT_EQ(cursor(), Cursor(3, 1));
}

TEST_F(ConsoleOutputTest, RedirectedOutputGetsTheBytesUnchanged)
{
    print_line(std::string(100, '-'));
    print_line("\r");
    print_line("");
    print_line("a\nb\x07");
    EXPECT_EQ(sim::stdout_bytes(), std::string(100, '-') + "\r\n\r\r\n\r\na\nb\x07\r\n");
}

TEST_F(ConsoleOutputTest, RedirectedWritesThatTakePartOrNothing)
{
    sim::limit_stdout_writes(3);
    print_line("abcdefg");
    EXPECT_EQ(sim::stdout_bytes(), "abcdefg\r\n");
    EXPECT_EQ(sim::count_calls("WriteFile"), 3 + 1);
    sim::limit_stdout_writes(0);
    print_line("lost");  // each request ends instead of retrying for ever
    EXPECT_EQ(sim::count_calls("WriteFile"), 4 + 2);
}

TEST_F(ConsoleOutputTest, NullHandleDropsEverything)
{
    console(10, 5, 5);
    sim::set_std_handle(platform::STD_OUTPUT, nullptr);
    init_services();
    print_line("abc");
    EXPECT_EQ(sim::stdout_bytes(), "");
    EXPECT_EQ(sim::console_row(0), "");
    EXPECT_EQ(sim::count_calls("WriteFile"), 2);
}

TEST_F(ConsoleOutputTest, OneColumnBufferOrOneRowWindowIsStreamMode)
{
    const platform::Rect windows[] = { { 0, 0, 0, 9 }, { 0, 0, 9, 0 } };
    for (const platform::Rect& w : windows) {
        SCOPED_TRACE(w.right);
        restart();
        sim::make_console(static_cast<int16_t>(w.right + 1), 10, w);
        print_line("abc");
        EXPECT_EQ(sim::stdout_bytes(), "abc\r\n");
        EXPECT_EQ(sim::console_row(0), "");
        EXPECT_EQ(sim::count_calls("WriteConsoleOutputA"), 0);
    }
}

}  // namespace
