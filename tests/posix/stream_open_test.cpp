// Opening the list file's stream on a real folder: what opens, what fails at
// once, and that nothing waits for a reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "posix/temp_dir.h"

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A regression would block in the open; the alarm then ends the test
// program instead of leaving it hanging.
constexpr unsigned HANG_GUARD_SECONDS = 20;

TEST(PosixStreamOpen, OpensWhatCanBeOpenedAtOnceAndNothingElse)
{
    TempDir root;
    root.file("existing", "old bytes");
    root.dir("directory");
    ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0644), 0);
    struct Case {
        const char* name;
        bool opens;
    };
    const Case cases[] = {
        { "new", true },
        { "existing", true },  // truncated
        { "directory", false },
        { "fifo", false },  // no reader
        { "missing/list", false },
    };
    alarm(HANG_GUARD_SECONDS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::Stream* stream = platform::stream_open((root / c.name).c_str(), "wb");
        EXPECT_EQ(stream != nullptr, c.opens);
        if (!stream)
            continue;
        EXPECT_EQ(platform::stream_write("ab\r\n", 4, stream), 4u);
        EXPECT_EQ(platform::stream_close(stream), 0);
        EXPECT_EQ(contents(root / c.name), "ab\r\n");
    }
    alarm(0);
    struct stat info;
    ASSERT_EQ(stat((root / "fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(PosixStreamOpen, AFifoWithAReaderOpensForBlockingWrites)
{
    TempDir root;
    std::string fifo = root / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    alarm(HANG_GUARD_SECONDS);
    platform::Stream* stream = platform::stream_open(fifo.c_str(), "wb");
    alarm(0);
    ASSERT_NE(stream, nullptr);
    // A full pipe must make a write wait for the reader, not fail it.
    EXPECT_EQ(fcntl(fileno(reinterpret_cast<FILE*>(stream)), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(platform::stream_write("list", 4, stream), 4u);
    EXPECT_EQ(platform::stream_flush(stream), 0);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 4);
    EXPECT_STREQ(got, "list");
    EXPECT_EQ(platform::stream_close(stream), 0);
    close(reader);
}

TEST(PosixStreamOpen, ModeStringsAsFopenTakesThem)
{
    TempDir root;
    root.file("file", "abc");
    struct Case {
        const char* mode;
        bool opens;
        const char* after;  // the file's bytes after writing "x" and closing
    };
    const Case cases[] = {
        { "wb", true, "x" },
        { "ab", true, "abcx" },
        { "r+b", true, "xbc" },
        { "qb", false, "abc" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        root.file("file", "abc");
        platform::Stream* stream = platform::stream_open((root / "file").c_str(), c.mode);
        EXPECT_EQ(stream != nullptr, c.opens);
        if (stream) {
            EXPECT_EQ(platform::stream_write("x", 1, stream), 1u);
            EXPECT_EQ(platform::stream_close(stream), 0);
        }
        EXPECT_EQ(contents(root / "file"), c.after);
    }
}

}  // namespace
