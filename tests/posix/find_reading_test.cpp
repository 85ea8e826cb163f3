// How often the wildcard search reads a folder: a folder's second pass right
// after its first takes the listing already read; anything else reads again.
#include <dirent.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "posix/temp_dir.h"

namespace {

std::string counted_prefix;
int folders_opened = 0;

}  // namespace

// Counts the folders opened below `counted_prefix`; the call itself goes on to
// the C library.
extern "C" DIR* opendir(const char* name)
{
    using Opendir = DIR* (*)(const char*);
    static const auto real = reinterpret_cast<Opendir>(dlsym(RTLD_NEXT, "opendir"));
    if (!counted_prefix.empty() && std::string_view(name).starts_with(counted_prefix))
        ++folders_opened;
    return real(name);
}

namespace {

using Names = std::vector<std::string>;

class PosixFindReading : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.dir("a");
        for (const char* name : { "z.dds", "B.nif", "c" })
            root.file(std::string("a/") + name);
        root.dir("a/sub");
        root.file("a/sub/x.dds");
        root.dir("b");
        root.file("b/y.dds");
        counted_prefix = root.path();
        folders_opened = 0;
    }
    void TearDown() override { counted_prefix.clear(); }

    // Names up to `limit` entries, then the search closed, as the service
    // closes it: after the end, or (a limit) by a new search on its state.
    static Names pass(const std::string& pattern, std::size_t limit = SIZE_MAX)
    {
        Names names;
        platform::FindData data{};
        platform::SearchHandle handle = platform::find_first(pattern.c_str(), &data);
        if (handle == platform::SEARCH_FAILED)
            return names;
        do
            names.emplace_back(data.name);
        while (names.size() < limit && platform::find_next(handle, &data) == 0);
        platform::find_close(handle);
        return names;
    }

    TempDir root;
};

const Names A_ALL = { ".", "..", "B.nif", "c", "sub", "z.dds" };
const Names A_DDS = { "z.dds" };
const Names B_ALL = { ".", "..", "y.dds" };

TEST_F(PosixFindReading, OneReadServesTwoPassesInARow)
{
    struct Pass {
        const char* pattern;  // below the root
        std::size_t limit;
        Names names;
    };
    struct Case {
        const char* what;
        std::vector<Pass> passes;
        int folders_opened;
    };
    const std::size_t ALL = SIZE_MAX;
    const Case cases[] = {
        { "file pass, then subfolder pass", { { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL } }, 1 },
        { "the same folder a third time", { { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL } },
            2 },
        { "two walks of the same folder",
            { { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL }, { "a/*.*", ALL, A_ALL } }, 2 },
        { "another folder between", { { "a/*.*", ALL, A_ALL }, { "b/*.*", ALL, B_ALL }, { "a/*.*", ALL, A_ALL } }, 3 },
        { "the first pass closed before its end", { { "a/*.*", 2, { ".", ".." } }, { "a/*.*", ALL, A_ALL } }, 2 },
        { "another pattern on the same folder", { { "a/*.*", ALL, A_ALL }, { "a/*.dds", ALL, A_DDS } }, 2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A listing kept from the case before is dropped by this first read.
        pass(root / "b/*.*");
        folders_opened = 0;
        for (const Pass& p : c.passes)
            EXPECT_EQ(pass(root / p.pattern, p.limit), p.names) << p.pattern;
        EXPECT_EQ(folders_opened, c.folders_opened);
    }
}

// The walk's own order: the subfolder pass of a stays open while sub is
// walked, and then goes on where it stood.
TEST_F(PosixFindReading, SubfolderPassResumesAfterTheWalkBelow)
{
    std::string a = root / "a/*.*";
    EXPECT_EQ(pass(a), A_ALL);

    Names second;
    platform::FindData data{};
    platform::SearchHandle handle = platform::find_first(a.c_str(), &data);
    ASSERT_NE(handle, platform::SEARCH_FAILED);
    do {
        second.emplace_back(data.name);
        if (second.back() == "sub") {
            std::string sub = root / "a/sub/*.*";
            Names inner = { ".", "..", "x.dds" };
            EXPECT_EQ(pass(sub), inner);
            EXPECT_EQ(pass(sub), inner);
        }
    } while (platform::find_next(handle, &data) == 0);
    platform::find_close(handle);

    EXPECT_EQ(second, A_ALL);
    EXPECT_EQ(folders_opened, 2);
}

}  // namespace
