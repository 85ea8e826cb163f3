// The wildcard search over a real folder: attribute words, order, patterns.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace
