#include "app/main_sequence.h"

#include <sstream>

#include "sim_test.h"

namespace {

const std::string RULE(76, '-');

// Typed while the second wait polls: a key typed ahead of the first wait
// would be drained, and marked only once, by that wait.
void second_key_at_first_sleep(int sleeps)
{
    if (sleeps == 1)
        sim::queue_key('b');
}

class MainSequenceTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        sim::add_directory("C:\\G\\Data");
        sim::set_current_directory("C:\\G\\Data");
        sim::queue_key('a');
        sim::on_sleep(second_key_at_first_sleep);
    }

    static int32_t run_tool()
    {
        try {
            main_sequence();
        } catch (const sim::ProcessExit& exit) {
            return exit.status;
        }
    }

    // The whole process, from start-up to exit, as the exe runs it.
    static int32_t run_process()
    {
        try {
            start_process([]() -> int32_t { main_sequence(); });
        } catch (const sim::ProcessExit& exit) {
            return exit.status;
        }
    }

    static std::vector<std::string> banner()
    {
        return { RULE, "Auto Overridelist 1.0 by Pelmoran",
            "Move this file to your \\Tarnvale\\Data\\ path before running this application", RULE, "\r",
            "Press any key to continue." };
    }

    static std::vector<std::string> with_banner(std::vector<std::string> tail)
    {
        std::vector<std::string> lines = banner();
        lines.insert(lines.end(), tail.begin(), tail.end());
        return lines;
    }

    static std::vector<std::string> report(const std::string& directory)
    {
        return { "\r", RULE, "The file has been written to the '" + directory + "' directory.",
            "The new file's name should be NewOverridelist.txt",
            "Rename it Overridelist.txt and move it to your Tarnvale directory.", RULE };
    }
};

TEST_F(MainSequenceTest, SuccessPathPrintsEveryLineInOrder)
{
    sim::add_file("C:\\G\\Data\\top.esp");
    sim::add_subdirectory("C:\\G\\Data\\Meshes");
    sim::add_file("C:\\G\\Data\\Meshes\\a.nif");
    EXPECT_EQ(run_tool(), 0);
    std::vector<std::string> expected = banner();
    expected.push_back("Meshes/a.nif");
    for (const std::string& line : report("C:\\G\\Data\\"))
        expected.push_back(line);
    EXPECT_EQ(sim::stdout_lines(), expected);
    EXPECT_EQ(sim::stdout_bytes().substr(sim::stdout_bytes().size() - 2), "\r\n");
    EXPECT_EQ(sim::file_contents("NewOverridelist.txt"), "Meshes/a.nif\r\n");
    EXPECT_EQ(sim::pending_input(), 0u);  // the second key's release, read by the second wait
    EXPECT_EQ(sim::open_streams(), 0);
}

// The calls in order, a run of one call written once with its count.
std::vector<std::string> call_runs()
{
    std::vector<std::string> runs;
    const std::vector<std::string>& calls = sim::calls();
    for (std::size_t at = 0; at < calls.size();) {
        std::size_t end = at;
        while (end < calls.size() && calls[end] == calls[at])
            ++end;
        std::ostringstream run;
        run << calls[at];
        if (end - at > 1)
            run << " x" << end - at;
        runs.push_back(run.str());
        at = end;
    }
    return runs;
}

// The plain run pinned call for call and byte for byte, as the exe makes it:
// whatever the native program's options change must leave it as it is.
TEST_F(MainSequenceTest, ThePlainRunMakesTheSameCallsAndBytes)
{
    sim::add_file("C:\\G\\Data\\top.esp");
    sim::add_subdirectory("C:\\G\\Data\\Meshes");
    sim::add_file("C:\\G\\Data\\Meshes\\a.nif");
    sim::clear_calls();
    EXPECT_EQ(run_process(), 0);
    const std::vector<std::string> expected = { "__set_app_type", "SetUnhandledExceptionFilter", "fninit",
        "__getmainargs", "_controlfp", "GetStdHandle(input)", "GetStdHandle(output)", "GetConsoleMode",
        "SetConsoleMode", "GetCurrentDirectoryA", "GetConsoleScreenBufferInfo", "WriteFile x12", "atexit",
        "SetConsoleCtrlHandler(add)", "PeekConsoleInputA", "ReadConsoleInputA", "MapVirtualKeyA", "PeekConsoleInputA",
        "ReadConsoleInputA", "PeekConsoleInputA", "atexit", "fopen", "setvbuf", "_findfirst", "_findnext x4",
        "_findclose", "_findfirst", "_findnext x3", "_findfirst", "_findnext x2", "WriteFile x2", "fwrite", "_findnext",
        "_findclose", "_findfirst", "_findnext x3", "_findclose", "_findnext", "_findclose", "fflush", "ferror",
        "fclose", "WriteFile x12", "PeekConsoleInputA", "Sleep", "PeekConsoleInputA", "ReadConsoleInputA",
        "MapVirtualKeyA", "PeekConsoleInputA", "ReadConsoleInputA", "PeekConsoleInputA", "exit",
        "SetConsoleCtrlHandler(remove)" };
    EXPECT_EQ(call_runs(), expected);
    EXPECT_EQ(sim::stdout_bytes(),
        RULE
            + "\r\nAuto Overridelist 1.0 by Pelmoran\r\n"
              "Move this file to your \\Tarnvale\\Data\\ path before running this application\r\n"
            + RULE + "\r\n\r\r\nPress any key to continue.\r\nMeshes/a.nif\r\n\r\r\n" + RULE
            + "\r\nThe file has been written to the 'C:\\G\\Data\\' directory.\r\n"
              "The new file's name should be NewOverridelist.txt\r\n"
              "Rename it Overridelist.txt and move it to your Tarnvale directory.\r\n"
            + RULE + "\r\n");
    EXPECT_EQ(sim::file_contents("NewOverridelist.txt"), "Meshes/a.nif\r\n");
}

TEST_F(MainSequenceTest, EmptyTreeGivesAnEmptyFileAndTheFullReport)
{
    EXPECT_EQ(run_tool(), 0);
    EXPECT_EQ(sim::stdout_lines(), with_banner(report("C:\\G\\Data\\")));
    EXPECT_EQ(sim::file_contents("NewOverridelist.txt"), "");
}

TEST_F(MainSequenceTest, NothingIsOpenedBeforeTheFirstKey)
{
    restart();
    sim::add_directory("C:\\G\\Data");
    EXPECT_THROW(main_sequence(), sim::Stuck);
    EXPECT_EQ(sim::stdout_lines(), banner());
    EXPECT_EQ(sim::count_calls("fopen"), 0);
}

TEST_F(MainSequenceTest, OpenFailurePrintsOneLineAndStillExitsZero)
{
    sim::refuse_open("NewOverridelist.txt");
    EXPECT_EQ(run_tool(), 0);
    EXPECT_EQ(sim::stdout_lines(), with_banner({ "Error opening file: 2" }));
    EXPECT_EQ(sim::pending_input(), 0u);  // the second wait took the second key
    EXPECT_EQ(sim::count_calls("_findfirst"), 0);
}

TEST_F(MainSequenceTest, FailedWritesReplaceTheReport)
{
    sim::add_subdirectory("C:\\G\\Data\\A");
    sim::add_file("C:\\G\\Data\\A\\one");
    sim::add_file("C:\\G\\Data\\A\\two");
    sim::limit_writes(3);
    EXPECT_EQ(run_tool(), 0);
    EXPECT_EQ(sim::stdout_lines(), with_banner({ "A/one", "A/two", "Error writing file: 3" }));
    EXPECT_EQ(sim::pending_input(), 0u);
}

TEST_F(MainSequenceTest, FailedWriteOutAtCloseReplacesTheReport)
{
    sim::add_subdirectory("C:\\G\\Data\\A");
    sim::add_file("C:\\G\\Data\\A\\one");
    sim::fail_write_out();
    EXPECT_EQ(run_tool(), 0);
    EXPECT_EQ(sim::stdout_lines(), with_banner({ "A/one", "Error writing file: 3" }));
}

TEST_F(MainSequenceTest, SettingsLeaveOutThePromptAndTheWaitsAndNameTheListFile)
{
    sim::add_subdirectory("C:\\G\\Data\\A");
    sim::add_file("C:\\G\\Data\\A\\one");
    platform::RunSettings settings;
    settings.key_waits = false;
    settings.list_file = "C:\\G\\Overridelist.txt";
    sim::set_run_settings(settings);
    std::vector<std::string> banner_without_prompt = banner();
    banner_without_prompt.pop_back();

    EXPECT_EQ(run_tool(), 0);
    std::vector<std::string> expected = banner_without_prompt;
    for (std::string line :
        { "A/one", "\r", RULE.c_str(), "The file has been written to 'C:\\G\\Overridelist.txt'.", RULE.c_str() })
        expected.push_back(line);
    EXPECT_EQ(sim::stdout_lines(), expected);
    EXPECT_EQ(sim::file_contents("NewOverridelist.txt"), "A/one\r\n");

    restart();
    sim::set_run_settings(settings);
    sim::refuse_open("NewOverridelist.txt");
    EXPECT_EQ(run_tool(), 0);
    banner_without_prompt.push_back("Error opening file: 2");
    EXPECT_EQ(sim::stdout_lines(), banner_without_prompt);
    EXPECT_EQ(sim::count_calls("PeekConsoleInputA") + sim::count_calls("Sleep"), 0);
}

TEST_F(MainSequenceTest, UnreadableStartDirectoryIsWalkedThroughRelativePaths)
{
    sim::set_current_directory(std::nullopt);
    sim::add_file("\\Windows\\system.ini");  // the drive's root is never walked
    sim::add_subdirectory(".\\A");
    sim::add_file(".\\A\\x");
    EXPECT_EQ(run_tool(), 0);
    std::vector<std::string> expected = with_banner({ "A/x" });
    for (const std::string& line : report(".\\"))
        expected.push_back(line);
    EXPECT_EQ(sim::stdout_lines(), expected);
    EXPECT_EQ(sim::file_contents("NewOverridelist.txt"), "A/x\r\n");
}

TEST_F(MainSequenceTest, StartDirectoryVariants)
{
    struct Row {
        std::optional<std::string> current;
        std::string shown;
    };
    const Row rows[] = {
        { std::string("C:\\"), "C:\\\\" },
        { "C:\\" + std::string(400, 'x'), "C:\\" + std::string(400, 'x') + "\\" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        restart();
        sim::set_current_directory(row.current);
        sim::queue_key('a');
        sim::on_sleep(second_key_at_first_sleep);
        EXPECT_EQ(run_tool(), 0);
        EXPECT_EQ(root_dir, row.shown);
        EXPECT_EQ(sim::stdout_lines(), with_banner(report(row.shown)));
    }
}

}  // namespace
