// The folders a search reaches, as Wine reaches them: backslashes as
// separators, names Windows forbids, a case-blind match where the exact name
// is missing, and the start folder however its path reads in the code page;
// a folder's identity by the same path.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "posix/temp_dir.h"

namespace {

// Every file the search hands out; empty when it fails. Only Windows-1252
// here: names_test.cpp fixes the locale.
std::vector<std::string> names_in(const std::string& pattern)
{
    std::vector<std::string> names;
    platform::FindData data{};
    platform::SearchHandle handle = platform::find_first(pattern.c_str(), &data);
    if (handle == platform::SEARCH_FAILED)
        return names;
    do {
        if ((data.attrib & 0x10) == 0)
            names.emplace_back(data.name);
    } while (platform::find_next(handle, &data) == 0);
    platform::find_close(handle);
    return names;
}

using Names = std::vector<std::string>;

std::optional<platform::FolderId> identity_of(const std::string& path)
{
    platform::FolderId id{};
    if (!platform::identify_folder(path.c_str(), &id))
        return std::nullopt;
    return id;
}

TEST(PosixFindPaths, ForbiddenCharactersAsWineTakesThem)
{
    TempDir root;
    // Listed, every one; of the folders only the one with ':' is entered.
    const std::string forbidden = "\\:*?\"<>|\x01";
    for (char c : forbidden) {
        std::string name = std::string("d") + c + "x";
        root.dir(name);
        root.file(name + "/in.dds");
        root.file(std::string("f") + c + "x.dds");
    }
    EXPECT_EQ(names_in(root / "*.*").size(), forbidden.size());
    for (char c : forbidden) {
        SCOPED_TRACE(static_cast<int>(c));
        Names expected = c == ':' ? Names{ "in.dds" } : Names{};
        EXPECT_EQ(names_in(root / (std::string("d") + c + "x/*.*")), expected);
    }
    // A backslash is handed out as it is, and separates where it stands in a
    // pattern.
    EXPECT_EQ(names_in(root / "f\\*"), Names{});
    root.dir("d");
    root.dir("d/x");
    root.file("d/x/deeper.dds");
    EXPECT_EQ(names_in(root / "d\\x/*.*"), Names{ "deeper.dds" });
    EXPECT_EQ(names_in(root / "d\\x\\*.*"), Names{ "deeper.dds" });
    EXPECT_EQ(names_in(root / "f*.dds").front(), "f\x01x.dds");
}

TEST(PosixFindPaths, AFolderMissingByItsNameIsFoundWithoutRegardToCase)
{
    TempDir root;
    root.dir("Lower");
    root.dir("Lower/Sub");
    root.file("Lower/Sub/in.dds");
    root.dir("same");
    root.dir("SAME");
    root.file("same/lower.dds");
    root.file("SAME/upper.dds");
    root.dir("\xC3\xA9t\xC3\xA9");  // été
    root.file("\xC3\xA9t\xC3\xA9/accented.dds");

    EXPECT_EQ(names_in(root / "LOWER/sUB/*.*"), Names{ "in.dds" });
    EXPECT_EQ(names_in(root / "lower/Sub/*.*"), Names{ "in.dds" });
    // The exact name first.
    EXPECT_EQ(names_in(root / "SAME/*.*"), Names{ "upper.dds" });
    EXPECT_EQ(names_in(root / "same/*.*"), Names{ "lower.dds" });
    // Letters beyond ASCII fold too (ÉTÉ in Windows-1252).
    EXPECT_EQ(names_in(root / "\xC9T\xC9/*.*"), Names{ "accented.dds" });
    EXPECT_EQ(names_in(root / "Lowe/Sub/*.*"), Names{});
    EXPECT_EQ(names_in(root / "Lower/in.dds/*.*"), Names{});
}

// A folder is identified by the path its search would take, else a link that
// the search follows would be refused, or the other way round.
TEST(PosixFindPaths, AFolderIsIdentifiedByThePathItsSearchTakes)
{
    TempDir root;
    root.dir("Lower");
    root.dir("Lower/Sub");
    root.file("f.txt");
    ASSERT_EQ(symlink("Lower", (root / "link").c_str()), 0);
    std::optional<platform::FolderId> sub = identity_of(root / "Lower/Sub/");
    ASSERT_TRUE(sub);
    EXPECT_EQ(identity_of(root / "link\\sUB/"), sub);
    EXPECT_NE(identity_of(root / "Lower/"), sub);
    EXPECT_EQ(identity_of(root / "Missing/"), std::nullopt);
    EXPECT_EQ(identity_of(root / "f.txt/"), std::nullopt);
    EXPECT_EQ(identity_of(root / "d<x/"), std::nullopt);
}

TEST(PosixFindPaths, TheStartFolderIsSearchedWhateverItsPathReadsAs)
{
    TempDir root;
    // "Zażółć" is "Zaz\xF3lc" in Windows-1252: a folder that does not exist.
    const std::string start = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87";
    root.dir(start);
    root.dir(start + "/Meshes");
    root.file(start + "/Meshes/a.nif");
    root.file(start + "/top.nif");
    // A folder whose name reads the same in the code page: Wine would search
    // it in the start folder's place.
    root.dir("Zaz\xC3\xB3lc");
    root.file("Zaz\xC3\xB3lc/twin.nif");

    std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir((root / start).c_str()), 0);
    char buffer[4096];
    uint32_t length = platform::get_current_directory(sizeof buffer, buffer);
    std::string text(buffer, length);
    EXPECT_EQ(text, std::filesystem::canonical(root.path()).string() + "/Zaz\xF3lc");

    EXPECT_EQ(names_in(text + "/*.*"), Names{ "top.nif" });
    EXPECT_EQ(names_in(text + "/Meshes/*.*"), Names{ "a.nif" });
    EXPECT_EQ(names_in(text + "/Meshes\\*.*"), Names{ "a.nif" });
    // Outside the start folder, a path is a path.
    EXPECT_EQ(names_in(text + "x/Meshes/*.*"), Names{});
    // And identified as itself, not as the twin its path names.
    struct stat info;
    ASSERT_EQ(stat((root / start).c_str(), &info), 0);
    EXPECT_EQ(identity_of(text + "/"), (platform::FolderId{ info.st_dev, info.st_ino }));
    ASSERT_EQ(chdir(previous.c_str()), 0);
}

}  // namespace
