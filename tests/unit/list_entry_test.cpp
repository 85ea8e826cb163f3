#include "app/list_entry.h"

#include "app/main_sequence.h"
#include "services/file_channel.h"
#include "sim_test.h"

namespace {

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanning)
{
    struct Row {
        const char* source;
        const char* find;
        const char* replacement;
        const char* expected;
    };
    const Row rows[] = {
        { "a\\b\\c", "\\", "/", "a/b/c" },
        { "xx", "x", "", "" },
        { "aaa", "a", "aa", "aaaaaa" },
        { "abcabc", "abc", "", "" },
        { "aaaa", "aa", "b", "bb" },
        { "abc", "", "z", "abc" },
        { "", "a", "b", "" },
        { "C:\\G\\Data\\x\\C:\\G\\Data\\y", "C:\\G\\Data\\", "", "x\\y" },
        { "Case", "case", "", "Case" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source);
        std::string source = row.source;
        EXPECT_EQ(replace_all(source, row.find, row.replacement), row.expected);
        EXPECT_EQ(source, row.source);
    }
}

class EmitEntryTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        list_file_number = 1;
        ASSERT_EQ(open_channel("list", MODE_OUTPUT, ACCESS_WRITE, 2, 1, 0, "ascii"), FILE_OK);
    }

    std::string written()
    {
        EXPECT_EQ(close_channel(0), FILE_OK);
        return sim::file_contents("list").value_or("");
    }
};

TEST_F(EmitEntryTest, RelativePathWithForwardSlashes)
{
    root_dir = "C:\\G\\Data\\";
    EXPECT_EQ(emit_entry("C:\\G\\Data\\Meshes\\", "a.nif"), FILE_OK);
    EXPECT_EQ(emit_entry("C:\\G\\Data\\Textures\\Armor\\", "b \xE9.dds"), FILE_OK);
    EXPECT_EQ(sim::stdout_lines(), (std::vector<std::string>{ "Meshes/a.nif", "Textures/Armor/b \xE9.dds" }));
    EXPECT_EQ(written(), "Meshes/a.nif\r\nTextures/Armor/b \xE9.dds\r\n");
}

TEST_F(EmitEntryTest, UnusualStartDirectories)
{
    root_dir = ".\\";  // the current directory could not be read
    EXPECT_EQ(emit_entry(".\\A\\B\\", "c.txt"), FILE_OK);
    root_dir = "C:\\\\";  // run at the top of a drive
    EXPECT_EQ(emit_entry("C:\\\\A\\", "c.txt"), FILE_OK);
    root_dir = "C:\\G\\";  // only the leading start directory is cut
    EXPECT_EQ(emit_entry("C:\\G\\x\\C:\\G\\", "y"), FILE_OK);
    EXPECT_EQ(written(), "A/B/c.txt\r\nA/c.txt\r\nx/C:/G/y\r\n");
}

// Occurrences start only where characters start: in code page 932 the 0x5C
// after a lead byte is that character's second byte, not a backslash.
TEST_F(EmitEntryTest, DoubleByteCharactersAreNeverSplit)
{
    sim::set_code_page(932);
    EXPECT_EQ(replace_all("\x83\x5C\\\x95\x5C\\x", "\\", "/"), "\x83\x5C/\x95\x5C/x");
    EXPECT_EQ(replace_all("a\xE0\\\\", "\\", "/"), "a\xE0\\/");  // a lead byte takes the byte after it
    EXPECT_EQ(replace_all("\x81", "\\", "/"), "\x81");           // a lead byte at the end stands alone
    root_dir = "C:\\\x95\x5C\\";
    EXPECT_EQ(emit_entry("C:\\\x95\x5C\\\x83\x5C\\", "\x83\x5C.dds"), FILE_OK);
    EXPECT_EQ(written(), "\x83\x5C/\x83\x5C.dds\r\n");
}

TEST_F(EmitEntryTest, ReportsAFailedWrite)
{
    root_dir = "C:\\";
    sim::limit_writes(2);
    EXPECT_EQ(emit_entry("C:\\A\\", "long.txt"), FILE_ERR_IO);
    EXPECT_EQ(sim::stdout_lines(), (std::vector<std::string>{ "A/long.txt" }));
}

}  // namespace
