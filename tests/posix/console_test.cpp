#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "posix/temp_dir.h"

namespace {

// A reader that has gone away makes the write fail, as on Windows, instead of
// ending the process (and losing the list file's buffered bytes).
TEST(PosixConsole, WriteToABrokenPipeFailsAndTheProcessGoesOn)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);  // no reader anywhere
    pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDOUT_FILENO);
        platform::set_app_type(1);
        uint32_t written = 1;
        bool ok = platform::write_file(platform::get_std_handle(platform::STD_OUTPUT), "x", 1, &written);
        _exit(!ok && written == 0 ? 0 : 1);
    }
    close(ends[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A standard stream closed by the caller stays without a handle, and no file
// the tool opens takes its descriptor: console text never reaches the list.
TEST(PosixConsole, ClosedStandardStreamsHaveNoHandleAndKeepTheirDescriptors)
{
    TempDir root;
    const std::vector<std::vector<int>> cases = { { 0 }, { 1 }, { 2 }, { 0, 1, 2 } };
    for (const std::vector<int>& closed : cases) {
        SCOPED_TRACE(std::to_string(closed.size()) + " closed, the first " + std::to_string(closed[0]));
        std::string list = root / ("list" + std::to_string(closed.size()) + std::to_string(closed[0]));
        pid_t child = fork();
        if (child == 0) {
            for (int fd : closed)
                close(fd);
            platform::set_app_type(1);
            bool in_closed = closed[0] == 0;
            bool out_closed = closed.size() > 1 || closed[0] == 1;
            int failures = 0;
            failures += (platform::get_std_handle(platform::STD_INPUT) == nullptr) != in_closed;
            failures += (platform::get_std_handle(platform::STD_OUTPUT) == nullptr) != out_closed;
            platform::Stream* stream = platform::stream_open(list.c_str(), "wb");
            failures += !stream || fileno(reinterpret_cast<FILE*>(stream)) <= 2;
            uint32_t written = 0;
            platform::write_file(platform::get_std_handle(platform::STD_OUTPUT), "echo", 4, &written);
            if (stream)
                platform::stream_close(stream);
            _exit(failures);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        struct stat info;
        ASSERT_EQ(stat(list.c_str(), &info), 0);
        EXPECT_EQ(info.st_size, 0);
    }
}

}  // namespace
