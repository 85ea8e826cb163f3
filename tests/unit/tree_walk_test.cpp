#include "app/tree_walk.h"

#include <algorithm>

#include "app/main_sequence.h"
#include "services/dir_scan.h"
#include "services/file_channel.h"
#include "sim_test.h"

namespace {

const std::string ROOT = "C:\\G\\Data";

class TreeWalkTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        start();
    }

    static void start()
    {
        sim::add_directory(ROOT);
        root_dir = ROOT + "\\";
        list_file_number = 1;
        ASSERT_EQ(open_channel("list", MODE_OUTPUT, ACCESS_WRITE, 2, 1, 0, "ascii"), FILE_OK);
    }

    std::vector<std::string> walk()
    {
        EXPECT_EQ(walk_tree(root_dir), FILE_OK);
        EXPECT_EQ(close_channel(0), FILE_OK);
        return sim::stdout_lines();
    }

    static void dir(const std::string& relative, uint32_t attrib = sim::DIR_ATTRIB)
    {
        sim::add_subdirectory(ROOT + "\\" + relative, attrib);
    }
    static void file(const std::string& relative, uint32_t attrib = sim::FILE_ATTRIB)
    {
        sim::add_file(ROOT + "\\" + relative, attrib);
    }
};

TEST_F(TreeWalkTest, DepthFirstFilesBeforeSubdirectoriesInPlatformOrder)
{
    dir("B");
    file("top.txt");
    dir("A");
    file("B\\b1");
    dir("B\\Deep");
    file("B\\b2");
    dir("B\\Deep\\Deeper");
    file("B\\Deep\\Deeper\\d3");
    file("A\\a1");
    EXPECT_EQ(walk(), (std::vector<std::string>{ "B/b1", "B/b2", "B/Deep/Deeper/d3", "A/a1" }));
    EXPECT_EQ(sim::file_contents("list"), "B/b1\r\nB/b2\r\nB/Deep/Deeper/d3\r\nA/a1\r\n");
    EXPECT_EQ(sim::open_search_handles(), 0);
}

TEST_F(TreeWalkTest, ExcludedAndFlaggedDirectoriesAreNotEntered)
{
    dir("Video");
    file("Video\\v");
    dir("Videos");
    file("Videos\\in");
    dir("video");
    file("video\\lower");
    dir("M");
    dir("M\\N");
    dir("M\\N\\Video");
    file("M\\N\\Video\\deep");
    file("M\\N\\.hidden file", 0x22);
    for (uint32_t flagged : { 0x11u, 0x12u, 0x14u, 0x30u }) {
        std::string name = "flag" + std::to_string(flagged);
        dir(name, flagged);
        file(name + "\\never");
    }
    dir("compressed", 0x810);
    file("compressed\\c");
    EXPECT_EQ(walk(), (std::vector<std::string>{ "Videos/in", "video/lower", "M/N/.hidden file", "compressed/c" }));
}

TEST_F(TreeWalkTest, PlainEntryWithNoAttributesIsAlsoWalkedInto)
{
    dir("S");
    file("S\\plain", 0x00);
    EXPECT_EQ(walk(), (std::vector<std::string>{ "S/plain" }));
    EXPECT_EQ(sim::count_calls("_findfirst"), 2 + 2 + 2);  // root, S, and S\plain
    EXPECT_EQ(sim::open_search_handles(), 0);
}

// A walk that meets no folder link makes only its searches and the list's
// writes: the same calls, in the same order, as ever.
TEST_F(TreeWalkTest, AWalkWithoutLinksMakesOnlyItsSearchesAndWrites)
{
    file("top");
    dir("A");
    file("A\\a");
    dir("A\\B");
    dir("Video");
    dir("Hidden", 0x12);
    sim::clear_calls();
    walk();
    std::string calls;
    for (const std::string& call : sim::calls())
        calls += call + " ";
    EXPECT_EQ(calls,
        "_findfirst _findnext _findnext _findnext _findnext _findnext _findnext _findclose "     // the start's files
        "_findfirst _findnext _findnext _findnext "                                              // its folders, to A
        "_findfirst _findnext _findnext GetConsoleScreenBufferInfo WriteFile WriteFile fwrite "  // A's files
        "_findnext _findnext _findclose "
        "_findfirst _findnext _findnext _findnext "                                             // A's folders, to B
        "_findfirst _findnext _findnext _findclose _findfirst _findnext _findnext _findclose "  // B
        "_findnext _findclose "                                                                 // A's folders end
        "_findnext _findnext _findnext _findclose "  // Video, Hidden, the end
        "fflush ferror fclose ");
}

TEST_F(TreeWalkTest, StartLevelFilesAreNeverListed)
{
    file("NewOverridelist.txt");
    file("autooverridelist.exe");
    EXPECT_TRUE(walk().empty());
    EXPECT_EQ(sim::file_contents("list"), "");
}

TEST_F(TreeWalkTest, LargeDirectoryKeepsItsOrderAndEveryHandleCloses)
{
    dir("Big");
    std::vector<std::string> expected;
    for (int i = 3000; i > 0; --i) {
        file("Big\\f" + std::to_string(i));
        expected.push_back("Big/f" + std::to_string(i));
    }
    EXPECT_EQ(walk(), expected);
    EXPECT_EQ(sim::open_search_handles(), 0);
    EXPECT_EQ(current_dir_scan->in_use, 0);
}

TEST_F(TreeWalkTest, AppendsTheMissingBackslashAndGoesOnAfterAFailedWrite)
{
    dir("A");
    file("A\\one");
    file("A\\two");
    sim::limit_writes(4);
    std::string path = ROOT;
    EXPECT_EQ(walk_tree(path), FILE_ERR_IO);
    EXPECT_EQ(path, ROOT + "\\");
    EXPECT_EQ(sim::stdout_lines(), (std::vector<std::string>{ "A/one", "A/two" }));
}

TEST_F(TreeWalkTest, AFolderRemovedWhileWalkedEndsItsSearchAndTheWalkGoesOn)
{
    struct Case {
        const char* vanishing;  // relative; "" is the start directory
        std::size_t entries;    // handed out before its searches fail; 0: none starts
        std::vector<std::string> listed;
    };
    const std::vector<std::string> whole = { "A/a1", "A/a2", "A/Inner/i1", "Gone/g1", "Gone/g2", "Gone/G1/x", "Z/z1" };
    const Case cases[] = {
        { "Gone", 4, { "A/a1", "A/a2", "A/Inner/i1", "Gone/g1", "Gone/G1/x", "Z/z1" } },
        { "Gone", 0, { "A/a1", "A/a2", "A/Inner/i1", "Z/z1" } },
        { "A\\Inner", 2, { "A/a1", "A/a2", "Gone/g1", "Gone/g2", "Gone/G1/x", "Z/z1" } },
        { "", 4, { "A/a1", "A/a2", "A/Inner/i1", "Gone/g1", "Gone/g2", "Gone/G1/x" } },
        { "Z", 1, { "A/a1", "A/a2", "A/Inner/i1", "Gone/g1", "Gone/g2", "Gone/G1/x" } },
        { "Nowhere", 0, whole },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vanishing) + " after " + std::to_string(c.entries));
        restart();
        start();
        for (const char* path : { "A", "A\\Inner", "Gone", "Gone\\G1", "Z" })
            dir(path);
        for (const std::string& entry : whole) {
            std::string path = entry;
            std::replace(path.begin(), path.end(), '/', '\\');
            file(path);
        }
        std::string vanishing = c.vanishing;
        sim::end_searches_after(vanishing.empty() ? ROOT : ROOT + "\\" + vanishing, c.entries);
        EXPECT_EQ(walk(), c.listed);
        EXPECT_EQ(sim::open_search_handles(), 0);
        EXPECT_EQ(current_dir_scan->in_use, 0);
    }
}

// Folder links that lead back to a folder on the path are passed over: two to
// the parent, one to the start folder. Followed, they would take the walk round
// until its paths grew too long, twice as many at each turn. A link above the
// start folder is walked, but for the start folder in it; a link that leads
// nowhere, or to a folder that cannot be identified, is passed over.
TEST_F(TreeWalkTest, AFolderLinkIsNotEnteredWhereItsFolderIsOnThePath)
{
    sim::limit_path_length(40);   // where a regression ends, soon
    sim::add_subdirectory(ROOT);  // an entry of its parent's
    sim::add_subdirectory("C:\\G\\Side");
    sim::add_file("C:\\G\\Side\\s.dds");
    sim::add_file("C:\\Out\\o.dds");
    sim::add_file("C:\\Far\\f.dds");
    sim::refuse_identity("C:\\Far");
    dir("A");
    file("A\\a.dds");
    sim::add_link(ROOT + "\\A\\up1", ROOT);
    sim::add_link(ROOT + "\\A\\up2", ROOT);
    dir("A\\B");
    file("A\\B\\b.dds");
    sim::add_link(ROOT + "\\A\\B\\top", ROOT);
    dir("A\\U");
    sim::add_link(ROOT + "\\A\\U\\above", "C:\\G");
    sim::add_link(ROOT + "\\A\\out", "C:\\Out");
    sim::add_link(ROOT + "\\A\\gone", "C:\\Nowhere");
    sim::add_link(ROOT + "\\A\\far", "C:\\Far");
    dir("Z");
    file("Z\\z.dds");
    EXPECT_EQ(
        walk(), (std::vector<std::string>{ "A/a.dds", "A/B/b.dds", "A/U/above/Side/s.dds", "A/out/o.dds", "Z/z.dds" }));
    EXPECT_EQ(sim::open_search_handles(), 0);
    // One for each link and each folder below one, and one for each folder
    // above the first link met: the start folder, A, B and U.
    EXPECT_EQ(sim::count_calls("GetFileInformationByHandle"), 7 + 2 + 4);
}

// A folder above a link that cannot be identified may be the one the link
// leads to, so no link below it is entered; plain folders are.
TEST_F(TreeWalkTest, NoFolderLinkIsEnteredBelowAFolderThatCannotBeIdentified)
{
    sim::add_file("C:\\Out\\o.dds");
    sim::refuse_identity(ROOT);
    dir("A");
    sim::add_link(ROOT + "\\A\\out", "C:\\Out");
    dir("A\\B");
    file("A\\B\\b.dds");
    EXPECT_EQ(walk(), (std::vector<std::string>{ "A/B/b.dds" }));
}

// Names as a search returns them after best fit: fullwidth dots and a
// fullwidth backslash become "..\\..", which the platform would resolve to the
// folder above the start folder; names of dots and spaces only name the folder
// they stand in, a backslash inside a name makes it a path, and a trailing dot
// names the sibling without it. None is entered, the walk ends, and nothing
// outside is listed, nor anything twice; a file's name is listed as the
// search returns it.
TEST_F(TreeWalkTest, NamesThatLeadOutOfTheirFolderAreNotEntered)
{
    for (const char* name : { "..\\..", "...", " ", ". .", "back\\slash", "back." }) {
        SCOPED_TRACE(name);
        restart();
        start();
        sim::limit_path_length(260);  // without the rule, the walk would go round until here
        sim::add_file("C:\\outside.dds");
        sim::add_file("C:\\G\\outside.dds");
        dir("A");
        file("A\\a.dds");
        sim::add_named_entry(ROOT + "\\A", "file\\name.dds", sim::FILE_ATTRIB);
        sim::add_named_entry(ROOT, name, sim::DIR_ATTRIB);
        dir("back");
        dir("back\\slash");
        file("back\\slash\\x.dds");
        EXPECT_EQ(walk(), (std::vector<std::string>{ "A/a.dds", "A/file/name.dds", "back/slash/x.dds" }));
        EXPECT_EQ(sim::open_search_handles(), 0);
    }
}

// Under a double-byte code page the second byte of a character may be 0x5C,
// the backslash: "\x83\x5C" is katakana so and "\x95\x5C" the kanji for
// "table" in code page 932. Such a folder is entered, and both names are
// listed whole. In a single-byte code page the same bytes are two characters,
// the second a backslash.
TEST_F(TreeWalkTest, DoubleByteNamesWhoseSecondByteIsABackslashStayWhole)
{
    for (uint32_t code_page : { 932u, 1252u }) {
        SCOPED_TRACE(code_page);
        restart();
        sim::set_code_page(932);  // the tree's paths are split by its characters
        start();
        dir("\x95\x5C");
        file("\x95\x5C\\in.dds");
        dir("A");
        file("A\\\x83\x5C.dds");
        sim::set_code_page(code_page);
        std::vector<std::string> listed = walk();
        if (code_page == 932)
            EXPECT_EQ(listed, (std::vector<std::string>{ "\x95\x5C/in.dds", "A/\x83\x5C.dds" }));
        else
            EXPECT_EQ(listed, (std::vector<std::string>{ "A/\x83/.dds" }));
    }
}

}  // namespace
