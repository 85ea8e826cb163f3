#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/platform.h"

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

}  // namespace
