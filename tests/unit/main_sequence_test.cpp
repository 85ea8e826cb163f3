#include "app/main_sequence.h"

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
