// The wildcard search over a real folder: attribute words, order, patterns,
// and folder links met by a walk.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "posix/temp_dir.h"

namespace {

using Listing = std::vector<std::pair<std::string, uint32_t>>;

// Every entry the search hands out, in its order; empty when it fails.
Listing list(const std::string& pattern)
{
    Listing entries;
    platform::FindData data{};
    platform::SearchHandle handle = platform::find_first(pattern.c_str(), &data);
    if (handle == platform::SEARCH_FAILED)
        return entries;
    do
        entries.emplace_back(data.name, data.attrib);
    while (platform::find_next(handle, &data) == 0);
    EXPECT_NE(platform::find_next(handle, &data), 0);
    EXPECT_EQ(platform::find_close(handle), 0);
    return entries;
}

TEST(PosixFind, AttributeWordsAsWineGivesThem)
{
    TempDir root;
    root.file("file");
    root.file(".dotfile");
    root.dir("dir");
    root.dir(".dotdir");
    root.dir("rodir");
    chmod((root / "rodir").c_str(), 0555);
    root.dir("userwritable");
    chmod((root / "userwritable").c_str(), 0755);
    ASSERT_EQ(symlink("file", (root / "link_file").c_str()), 0);
    ASSERT_EQ(symlink("dir", (root / "link_dir").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (root / "link_dangling").c_str()), 0);

    Listing expected = {
        { ".", 0x10 },
        { "..", 0x10 },
        { ".dotdir", 0x12 },
        { ".dotfile", 0x22 },
        { "dir", 0x10 },
        { "file", 0x20 },
        { "link_dir", 0x410 },
        { "link_file", 0x20 },
        { "rodir", 0x11 },
        { "userwritable", 0x10 },
    };
    EXPECT_EQ(list(root / "*.*"), expected);
    EXPECT_EQ(list(root / "*"), expected);
}

TEST(PosixFind, DotsFirstThenNamesWithoutRegardToCase)
{
    TempDir root;
    // Accented letters fold too: \xC3\xBC is ü, \xC3\x9C Ü, \xC3\xA9 é, \xC3\x89 É.
    for (const char* name :
        { "zz", "b", "Zy", "a_b", "B", "aZb", "a", "\xC3\xBCt", "\xC3\x9Cs", "\xC3\xA9r", "\xC3\x89q", "\xC3\x89" })
        root.file(name);
    Listing entries = list(root / "*.*");
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.first);
    EXPECT_EQ(names,
        (std::vector<std::string>{
            ".", "..", "a", "aZb", "a_b", "B", "b", "Zy", "zz", "\xC9", "\xC9q", "\xE9r", "\xDCs", "\xFCt" }));
}

TEST(PosixFind, PatternsAndFailures)
{
    TempDir root;
    root.file("one.TXT");
    root.file("two.txt");
    root.file("three.dds");
    root.file("noext");
    struct Case {
        std::string pattern;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        { "*.txt", { "one.TXT", "two.txt" } },
        { "T*", { "three.dds", "two.txt" } },
        { "???.txt", { "one.TXT", "two.txt" } },
        { "noext", { "noext" } },
        { "*.nif", {} },
        { "missing/*.*", {} },
        { "noext/*.*", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        std::vector<std::string> names;
        for (const auto& entry : list(root / c.pattern))
            names.push_back(entry.first);
        EXPECT_EQ(names, c.names);
    }
}

TEST(PosixFind, PatternWithoutDirectorySearchesTheCurrentOne)
{
    TempDir root;
    root.file("only");
    std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(root.path().c_str()), 0);
    Listing entries = list("o*");
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(entries, (Listing{ { "only", 0x20 } }));
}

// The files below root, as the tool's walk reaches them: each folder's files,
// then its subfolders in turn, each walked while the folder's subfolder search
// stays open. A folder whose search fails holds nothing. A walk that goes
// round ends at a hundred files, which no tree here holds.
void walk(const std::string& root, const std::string& relative, std::vector<std::string>& files)
{
    if (files.size() > 100)
        return;
    std::string pattern = root + "/" + relative + "*.*";
    for (const auto& [name, attrib] : list(pattern)) {
        if ((attrib & 0x10) == 0)
            files.push_back(relative + name);
    }
    platform::FindData data{};
    platform::SearchHandle handle = platform::find_first(pattern.c_str(), &data);
    if (handle == platform::SEARCH_FAILED)
        return;
    do {
        std::string name = data.name;
        if ((data.attrib & 0xFF) == 0x10 && name != "." && name != "..")
            walk(root, relative + name + "/", files);
    } while (platform::find_next(handle, &data) == 0);
    platform::find_close(handle);
}

std::vector<std::string> walk(const std::string& root)
{
    std::vector<std::string> files;
    walk(root, "", files);
    return files;
}

// Files with the folders that hold them.
void make_files(const TempDir& root, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        std::filesystem::create_directories(std::filesystem::path(root / name).parent_path());
        root.file(name);
    }
}

void link(const TempDir& root, const std::string& target, const std::string& name)
{
    ASSERT_EQ(symlink(target.c_str(), (root / name).c_str()), 0) << name;
}

// A folder link back to a folder on its own path is passed over: followed, it
// would take the walk round until the path grew too long, doubling the paths
// at each level where two such links stand. A link above the start folder
// leads out of the tree, and is walked down to the start folder.
TEST(PosixFindLinks, AFolderOnItsOwnPathIsNotEnteredAgain)
{
    TempDir root;
    make_files(
        root, { "Data/A/x.txt", "Data/A/y.txt", "Data/B/C/D/d.txt", "Data/U/u.txt", "Data/Z/z.txt", "Side/s.txt" });
    link(root, "..", "Data/A/up1");                 // the start folder
    link(root, "..", "Data/A/up2");                 // and again beside it
    link(root, "../..", "Data/B/C/D/up2");          // two levels up
    link(root, ".", "Data/B/C/self");               // the folder itself
    link(root, root / "Data/B", "Data/B/C/D/abs");  // by its absolute path
    link(root, "../..", "Data/U/up");               // above the start folder
    EXPECT_EQ(walk(root / "Data"),
        (std::vector<std::string>{ "A/x.txt", "A/y.txt", "B/C/D/d.txt", "U/u.txt", "U/up/Side/s.txt", "Z/z.txt" }));
}

// What the walk has read before is no ancestor of a folder read later beside
// or above it, whatever the lengths of their paths: a folder linked from a
// sibling is walked by each path, as under Wine.
TEST(PosixFindLinks, FoldersReadBeforeAreAncestorsOnlyOnThePath)
{
    TempDir root;
    make_files(root, { "A/Sub/s.txt", "Bee/b.txt" });
    link(root, "../A", "Bee/toA");
    const std::vector<std::string> expected = { "A/Sub/s.txt", "Bee/b.txt", "Bee/toA/Sub/s.txt" };
    EXPECT_EQ(walk(root.path()), expected);
    // Again, with the first walk's folders still known.
    EXPECT_EQ(walk(root.path()), expected);
}

}  // namespace
