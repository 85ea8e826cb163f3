#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"
#include "posix/interposed.h"
#include "posix/temp_dir.h"

namespace {

// A reader that has gone away makes the write fail, as on Windows, instead of
// ending the process (and losing the list file's buffered bytes).
TEST(PosixConsole, ABrokenPipeDoesNotEndTheProcess)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);  // no reader anywhere
    pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDOUT_FILENO);
        platform::set_app_type(1);
        uint32_t written = 0;
        platform::write_file(platform::get_std_handle(platform::STD_OUTPUT), "x", 1, &written);
        platform::posix::write_out_echo();
        _exit(0);
    }
    close(ends[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Forks; the child's standard output goes into a pipe, whose other end the
// parent gets as `reader`.
pid_t fork_writing_to_pipe(int* reader)
{
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
    } else {
        close(ends[1]);
        *reader = ends[0];
    }
    return child;
}

// A reader that stopped reading holds the echo's write-out up; an interrupt
// still ends the process at once, as its default does, and a termination too.
TEST(PosixConsole, ASignalEndsTheProcessWhileTheEchoWaitsForItsReader)
{
    for (int signal_number : { SIGINT, SIGTERM }) {
        SCOPED_TRACE(signal_number);
        int reader = -1;
        pid_t child = fork_writing_to_pipe(&reader);
        ASSERT_GE(child, 0);
        if (child == 0) {
            platform::Handle output = platform::get_std_handle(platform::STD_OUTPUT);
            const std::string line(1000, 'x');
            uint32_t written = 0;
            for (;;)  // several buffers: the pipe fills, and a write-out waits
                platform::write_file(output, line.data(), static_cast<uint32_t>(line.size()), &written);
        }
        // The pipe takes 64 KiB; once it is full, the child waits in its write.
        char buffer[65536];
        std::size_t taken = 0;
        while (taken < sizeof buffer) {
            ssize_t got = read(reader, buffer, sizeof buffer - taken);
            ASSERT_GT(got, 0);
            taken += static_cast<std::size_t>(got);
        }
        usleep(200 * 1000);
        kill(child, signal_number);
        int status = 0;
        pid_t ended = 0;
        for (int tries = 0; tries < 100 && ended == 0; ++tries) {
            ended = waitpid(child, &status, WNOHANG);
            if (ended == 0)
                usleep(20 * 1000);
        }
        if (ended == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the signal did not end the process";
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        }
        close(reader);
    }
}

std::string read_to_end(int fd)
{
    std::string got;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

// No byte of the echo is lost to a write-out that a signal cut short, nor to
// one that found a pipe without room on a descriptor its caller left
// non-blocking: what was gathered goes out, then the signal ends the process.
TEST(PosixConsole, AWriteOutCutShortOrWithoutRoomLosesNoEcho)
{
    const std::string text(100000, 'x');  // more than the buffer: a write-out while it is gathered
    for (auto [error, signal_number] : { std::pair{ EINTR, SIGTERM }, std::pair{ EAGAIN, 0 } }) {
        SCOPED_TRACE(std::strerror(error));
        int reader = -1;
        pid_t child = fork_writing_to_pipe(&reader);
        ASSERT_GE(child, 0);
        if (child == 0) {
            interposed::fail_next_write(STDOUT_FILENO, error, signal_number);
            uint32_t written = 0;
            platform::write_file(platform::get_std_handle(platform::STD_OUTPUT), text.data(),
                static_cast<uint32_t>(text.size()), &written);
            std::exit(0);
        }
        std::string got = read_to_end(reader);
        close(reader);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (signal_number != 0) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
            // The signal came at the first write-out, of a full buffer.
            EXPECT_EQ(got.size(), std::size_t{ 65536 });
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(got.size(), text.size());
        }
    }
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
            platform::posix::write_out_echo();
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

off_t size_of(int fd)
{
    struct stat info { };
    return fstat(fd, &info) == 0 ? info.st_size : -1;
}

// The echo into a file is gathered: nothing is out before a key wait begins
// (whatever standard input is) or the process exits, and everything is out,
// in order, after. The last text is longer than the buffer.
TEST(PosixConsole, TheGatheredEchoIsOutWhenAWaitBeginsAndAtExit)
{
    TempDir root;
    std::string out = root / "out";
    const std::string prompt = "Press any key to continue.\r\n";
    const std::string entries = std::string(100000, 'x') + "\r\n";
    pid_t child = fork();
    if (child == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        platform::Handle output = platform::get_std_handle(platform::STD_OUTPUT);
        uint32_t written = 0;
        platform::write_file(output, prompt.data(), static_cast<uint32_t>(prompt.size()), &written);
        int failures = size_of(STDOUT_FILENO) != 0;
        platform::InputRecord record{};
        uint32_t count = 0;
        platform::peek_console_input(platform::get_std_handle(platform::STD_INPUT), &record, &count);
        failures += size_of(STDOUT_FILENO) != static_cast<off_t>(prompt.size());
        platform::write_file(output, entries.data(), static_cast<uint32_t>(entries.size()), &written);
        std::exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "echo out too early or too late";
    std::string got;
    FILE* file = std::fopen(out.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        got.append(buffer, n);
    std::fclose(file);
    EXPECT_TRUE(got == prompt + entries) << got.size() << " bytes, " << prompt.size() + entries.size() << " expected";
}

}  // namespace
