#include "services/dir_scan.h"

#include "sim_test.h"

namespace {

constexpr int32_t FILE_MASK = 0x27;
constexpr int32_t SUBDIR_MASK = 0x10;
const std::string DIR = "C:\\D";
const std::string PATTERN = "C:\\D\\*.*";

class DirScanTest : public SimTest { };

std::vector<std::string> all_names(int32_t mask)
{
    std::vector<std::string> names;
    for (std::string name = dir_first(PATTERN, mask); !name.empty(); name = dir_next())
        names.push_back(name);
    return names;
}

TEST_F(DirScanTest, AcceptanceFollowsTheAttributeTable)
{
    struct Row {
        uint32_t attrib;
        bool file_pass;
        bool subdir_pass;
    };
    const Row rows[] = {
        { 0x00, true, true },
        { 0x01, true, false },
        { 0x02, true, false },
        { 0x04, true, false },
        { 0x06, true, false },
        { 0x20, true, false },
        { 0x21, true, false },
        { 0x22, true, false },
        { 0x27, true, false },
        { 0x120, true, false },
        { 0x820, true, false },
        { 0x2020, true, false },
        { 0x2000, true, true },
        { 0x08, false, false },
        { 0x40, false, false },
        { 0x80, false, false },
        { 0x10, false, true },
        { 0x410, false, true },
        { 0x810, false, true },
        { 0x2010, false, true },
        { 0x11, false, false },
        { 0x12, false, false },
        { 0x14, false, false },
        { 0x16, false, false },
        { 0x30, false, false },
        { 0x31, false, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "attrib 0x" << std::hex << row.attrib);
        restart();
        sim::add_directory(DIR, false);
        sim::add_entry(DIR + "\\x", row.attrib);
        EXPECT_EQ(dir_first(PATTERN, FILE_MASK) == "x", row.file_pass);
        EXPECT_EQ(dir_first(PATTERN, SUBDIR_MASK) == "x", row.subdir_pass);
        EXPECT_EQ(dir_next(), "");
        EXPECT_EQ(sim::open_search_handles(), 0);
    }
}

TEST_F(DirScanTest, IdleStateAsksThePlatformNothing)
{
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(dir_first("", FILE_MASK), "");
    EXPECT_TRUE(sim::calls().empty());

    sim::add_file(DIR + "\\a");
    EXPECT_EQ(dir_first(PATTERN, FILE_MASK), "a");
    EXPECT_EQ(dir_next(), "");
    sim::clear_calls();
    EXPECT_EQ(dir_next(), "");
    EXPECT_TRUE(sim::calls().empty());
}

TEST_F(DirScanTest, MissingDirectoryYieldsNothing)
{
    EXPECT_EQ(dir_first("C:\\nowhere\\*.*", FILE_MASK), "");
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(current_dir_scan->in_use, 0);
    EXPECT_EQ(current_dir_scan->handle, platform::SEARCH_FAILED);
    EXPECT_EQ(sim::count_calls("_findclose"), 0);
}

TEST_F(DirScanTest, FilePassSkipsDirectoriesAndKeepsPlatformOrder)
{
    sim::add_file(DIR + "\\zeta");
    sim::add_subdirectory(DIR + "\\Sub");
    sim::add_file(DIR + "\\Alpha.DDS", 0x23);
    sim::add_file(DIR + "\\noext", 0x00);
    EXPECT_EQ(all_names(FILE_MASK), (std::vector<std::string>{ "zeta", "Alpha.DDS", "noext" }));
    EXPECT_EQ(all_names(SUBDIR_MASK), (std::vector<std::string>{ ".", "..", "Sub", "noext" }));
    EXPECT_EQ(sim::open_search_handles(), 0);
}

TEST_F(DirScanTest, NothingAcceptedLeavesTheStateIdleAndClosed)
{
    sim::add_subdirectory(DIR + "\\only");
    EXPECT_EQ(dir_first(PATTERN, FILE_MASK), "");
    EXPECT_EQ(current_dir_scan->in_use, 0);
    EXPECT_EQ(sim::open_search_handles(), 0);
    EXPECT_EQ(sim::count_calls("_findclose"), 1);
}

TEST_F(DirScanTest, NewSearchClosesTheOpenOneAndUsesItsOwnMask)
{
    sim::add_file(DIR + "\\f1");
    sim::add_subdirectory(DIR + "\\d1");
    sim::add_file(DIR + "\\f2");
    sim::add_subdirectory(DIR + "\\d2");
    EXPECT_EQ(dir_first(PATTERN, FILE_MASK), "f1");
    EXPECT_EQ(sim::open_search_handles(), 1);
    EXPECT_EQ(dir_first(PATTERN, SUBDIR_MASK), ".");
    EXPECT_EQ(sim::count_calls("_findclose"), 1);
    EXPECT_EQ(sim::open_search_handles(), 1);
    // An empty pattern continues, whatever its mask says.
    EXPECT_EQ(dir_first("", 0x33), "..");
    EXPECT_EQ(dir_next(), "d1");
    EXPECT_EQ(dir_first("", FILE_MASK), "d2");
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(sim::open_search_handles(), 0);
}

TEST_F(DirScanTest, NestedStateLetsTheOuterSearchResume)
{
    sim::add_subdirectory(DIR + "\\X");
    sim::add_subdirectory(DIR + "\\Y");
    sim::add_file(DIR + "\\X\\inner");
    EXPECT_EQ(dir_first(PATTERN, SUBDIR_MASK), ".");
    EXPECT_EQ(dir_next(), "..");
    EXPECT_EQ(dir_next(), "X");

    DirScan* outer = current_dir_scan;
    DirScan nested{};
    current_dir_scan = &nested;
    EXPECT_EQ(dir_first("C:\\D\\X\\*.*", FILE_MASK), "inner");
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(dir_first("C:\\D\\X\\*.*", SUBDIR_MASK), ".");
    EXPECT_EQ(dir_next(), "..");
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(nested.in_use, 0);
    current_dir_scan = outer;

    EXPECT_EQ(dir_next(), "Y");
    EXPECT_EQ(dir_next(), "");
    EXPECT_EQ(sim::open_search_handles(), 0);
}

TEST_F(DirScanTest, NamesAreBareCopiesWithTheirBytes)
{
    sim::add_file(DIR + "\\Caf\xE9 Armor.NIF");
    std::string name = dir_first(PATTERN, FILE_MASK);
    EXPECT_EQ(name, "Caf\xE9 Armor.NIF");
}

}  // namespace
