// Key input from a pseudo-terminal: the records that bytes make, the
// terminal's mode during and after a wait, and the signals that end a wait or
// the process.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"
#include "posix/interposed.h"

namespace {

// The terminal's key input is process-wide state (its mode, queued keys,
// received signals), so a case that changes it runs in a child of its own.
template<typename Body> void in_child(Body body)
{
    std::fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        body();
        std::fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the case's process ended with status " << status;
}

bool same_mode(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
        && std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

std::vector<uint32_t> ctrl_events;

bool record_ctrl_event(uint32_t ctrl_type)
{
    ctrl_events.push_back(ctrl_type);
    return true;
}

class PosixTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        ASSERT_EQ(tcgetattr(slave, &original), 0);
        input = platform::posix::handle_for_fd(slave);
        ctrl_events.clear();
    }
    void TearDown() override
    {
        close(slave);
        close(master);
    }

    void type(const std::string& bytes)
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        tcdrain(master);
        platform::sleep_ms(50);
    }

    // One poll of a key wait: peek and read until the queue is empty.
    std::vector<platform::InputRecord> drain()
    {
        std::vector<platform::InputRecord> records;
        platform::InputRecord record{};
        uint32_t count = 0;
        while (platform::peek_console_input(input, &record, &count) && count == 1) {
            EXPECT_TRUE(platform::read_console_input(input, &record, &count));
            EXPECT_EQ(count, 1u);
            records.push_back(record);
        }
        return records;
    }

    termios mode_now() const
    {
        termios mode{};
        tcgetattr(slave, &mode);
        return mode;
    }

    int master = -1;
    int slave = -1;
    termios original{};
    platform::Handle input = nullptr;
};

TEST_F(PosixTerminal, EachByteOrEscapeSequenceIsOneKeyRecord)
{
    in_child([&] {
        EXPECT_TRUE(drain().empty());  // enters the wait's mode
        termios waiting = mode_now();
        EXPECT_EQ(waiting.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_NE(waiting.c_lflag & ISIG, 0u);

        type(std::string("a\x1b[A\x1bOP\x1b[1;5C\x1bx") + '\0' + "b\x1b");
        std::vector<uint8_t> chars;
        for (const platform::InputRecord& record : drain()) {
            EXPECT_EQ(record.event_type, platform::KEY_EVENT);
            EXPECT_TRUE(record.key.key_down);
            EXPECT_EQ(record.key.repeat_count, 1);
            EXPECT_EQ(record.key.virtual_key_code, 0);
            EXPECT_EQ(record.key.virtual_scan_code, 0);
            EXPECT_EQ(record.key.control_key_state, 0u);
            chars.push_back(record.key.ch);
        }
        EXPECT_EQ(chars, (std::vector<uint8_t>{ 'a', 0x1B, 0x1B, 0x1B, 0x1B, 0, 'b', 0x1B }));
    });
}

// The work between the two waits runs in the wait's mode: keys typed then are
// not echoed, Backspace erases none of them, and the next wait gets them all.
TEST_F(PosixTerminal, TheWaitsModeHoldsBetweenWaitsAndKeysTypedMeanwhileWaitForTheNext)
{
    in_child([&] {
        drain();
        type("a");
        EXPECT_EQ(drain().size(), 1u);
        termios between = mode_now();
        EXPECT_EQ(between.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_NE(between.c_lflag & ISIG, 0u);

        type("zq\x7f");
        char echoed[16];
        int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        EXPECT_EQ(read(master, echoed, sizeof echoed), -1) << "the terminal echoed the keys";
        fcntl(master, F_SETFL, flags);
        std::vector<uint8_t> chars;
        for (const platform::InputRecord& record : drain())
            chars.push_back(record.key.ch);
        EXPECT_EQ(chars, (std::vector<uint8_t>{ 'z', 'q', 0x7F }));
    });
}

TEST_F(PosixTerminal, InputThatIsNoTerminalFailsThePeek)
{
    in_child([&] {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        ASSERT_EQ(write(pipe_fds[1], "x", 1), 1);
        platform::InputRecord record{};
        uint32_t count = 7;
        EXPECT_FALSE(platform::peek_console_input(platform::posix::handle_for_fd(pipe_fds[0]), &record, &count));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(platform::peek_console_input(nullptr, &record, &count));
        close(pipe_fds[0]);
        close(pipe_fds[1]);
    });
}

TEST_F(PosixTerminal, HangUpAndTerminationEndEveryLaterWait)
{
    for (auto [signal_number, event] : { std::pair{ SIGHUP, 2u }, std::pair{ SIGTERM, 6u } }) {
        SCOPED_TRACE(signal_number);
        in_child([&] {
            ASSERT_TRUE(platform::set_ctrl_handler(record_ctrl_event, true));
            drain();
            raise(signal_number);
            // Restored at once by the signal, not only at the next poll.
            EXPECT_TRUE(same_mode(mode_now(), original));
            platform::InputRecord record{};
            uint32_t count = 1;
            EXPECT_TRUE(platform::peek_console_input(input, &record, &count));
            EXPECT_EQ(count, 0u);
            EXPECT_TRUE(platform::peek_console_input(nullptr, &record, &count));
            EXPECT_EQ(ctrl_events, (std::vector<uint32_t>{ event, event }));
        });
    }
}

// A termination while the first wait sets its mode waits for the set, then
// puts the user's mode back: it never lands between the check and the set.
TEST_F(PosixTerminal, ATerminationWhileTheWaitsModeIsSetLeavesTheUsersMode)
{
    in_child([&] {
        ASSERT_TRUE(platform::set_ctrl_handler(record_ctrl_event, true));
        interposed::raise_at_next_tcsetattr(SIGTERM);
        drain();
        drain();
        EXPECT_TRUE(same_mode(mode_now(), original));
        EXPECT_EQ(ctrl_events, (std::vector<uint32_t>{ 6 }));
    });
}

// A hang-up that no SIGHUP announces (blocked, or a disowned job's terminal)
// ends the waits all the same.
TEST_F(PosixTerminal, AHangUpWithoutSighupEndsTheWaits)
{
    close(master);  // hangs the terminal up; no one's controlling terminal, it sends no SIGHUP
    master = -1;
    in_child([&] {
        ASSERT_TRUE(platform::set_ctrl_handler(record_ctrl_event, true));
        drain();
        EXPECT_EQ(ctrl_events, (std::vector<uint32_t>{ 2 }));
    });
}

// Started in the background of a group that no shell can bring back (its
// parent is outside the session): the kernel discards the stop the wait asks
// for, and the terminal cannot be read. That is the close event, not a stop
// asked for again at every poll.
TEST_F(PosixTerminal, ABackgroundStartInAnOrphanedGroupEndsTheWaits)
{
    in_child([&] {
        ASSERT_NE(setsid(), -1);
        ASSERT_EQ(ioctl(slave, TIOCSCTTY, 0), 0);
        pid_t foreground = fork();
        if (foreground == 0) {
            setpgid(0, 0);
            pause();
            _exit(0);
        }
        setpgid(foreground, foreground);
        ASSERT_EQ(tcsetpgrp(slave, foreground), 0);
        ASSERT_TRUE(platform::set_ctrl_handler(record_ctrl_event, true));
        drain();
        drain();
        kill(foreground, SIGKILL);
        waitpid(foreground, nullptr, 0);
        EXPECT_EQ(ctrl_events, (std::vector<uint32_t>{ 2 }));
    });
}

// Runs `action` in a child that is in the wait's mode on the terminal; the
// child's end as waitpid reports it.
template<typename Action> int status_of_child_in_wait(int slave, Action action)
{
    int sync[2];
    if (pipe(sync) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        platform::InputRecord record{};
        uint32_t count = 0;
        platform::peek_console_input(platform::posix::handle_for_fd(slave), &record, &count);
        termios mode{};
        tcgetattr(slave, &mode);
        char ready = (mode.c_lflag & ICANON) ? 'n' : 'y';
        if (write(sync[1], &ready, 1) != 1)
            _exit(3);
        action();
        _exit(4);
    }
    char ready = 0;
    EXPECT_EQ(read(sync[0], &ready, 1), 1);
    EXPECT_EQ(ready, 'y');
    close(sync[0]);
    close(sync[1]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

TEST_F(PosixTerminal, InterruptEndsTheProcessWithTheTerminalRestored)
{
    int status = status_of_child_in_wait(slave, [] {
        raise(SIGINT);
        _exit(5);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(same_mode(mode_now(), original));
}

TEST_F(PosixTerminal, ExitRestoresTheTerminal)
{
    int status = status_of_child_in_wait(slave, [] { std::exit(0); });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(same_mode(mode_now(), original));
}

// Polls the terminal's mode until `wanted` holds; false after ten seconds, a
// cap for a hung case only.
template<typename Wanted> bool mode_becomes(int slave, Wanted wanted)
{
    for (int i = 0; i < 1000; ++i) {
        termios mode{};
        tcgetattr(slave, &mode);
        if (wanted(mode))
            return true;
        platform::sleep_ms(10);
    }
    return false;
}

// Ctrl+Z puts the user's mode back before the process stops, and continuing
// sets the wait's mode again. A shell that then puts its own line mode back
// cannot leave the wait in it: the key still ends the wait, unechoed. At exit
// the terminal has the user's mode, never the wait's.
TEST_F(PosixTerminal, StopAndContinueInAWait)
{
    int sync[2];
    ASSERT_EQ(pipe(sync), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A process group of its own whose parent is outside it: not orphaned,
        // so the stop is not discarded.
        setpgid(0, 0);
        alarm(20);  // a wait that blocks ends the case instead of hanging it
        platform::InputRecord record{};
        uint32_t count = 0;
        platform::Handle input = platform::posix::handle_for_fd(slave);
        platform::peek_console_input(input, &record, &count);
        if (write(sync[1], "w", 1) != 1)
            _exit(3);
        while (!(platform::read_console_input(input, &record, &count) && count == 1 && record.key.ch == 'k'))
            platform::sleep_ms(10);
        std::exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(sync[0], &ready, 1), 1);
    close(sync[0]);
    close(sync[1]);
    auto in_wait_mode = [](const termios& mode) { return (mode.c_lflag & (ICANON | ECHO)) == 0; };
    EXPECT_TRUE(in_wait_mode(mode_now()));

    ASSERT_EQ(kill(child, SIGTSTP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status)) << status;
    EXPECT_TRUE(same_mode(mode_now(), original));

    ASSERT_EQ(kill(child, SIGCONT), 0);
    EXPECT_TRUE(mode_becomes(slave, in_wait_mode));

    // As a shell can: its own mode back while the job runs. The next poll
    // takes the wait's back.
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &original), 0);
    EXPECT_TRUE(mode_becomes(slave, in_wait_mode));
    type("k");
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(same_mode(mode_now(), original));
    char echoed[16];
    int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    EXPECT_EQ(read(master, echoed, sizeof echoed), -1) << "the terminal echoed the key";
}

// A signal that ends the process first writes out the gathered echo and puts
// the user's mode back; the process then ends by that signal.
TEST_F(PosixTerminal, AnEndingSignalWritesOutTheEchoAndRestoresTheTerminal)
{
    const std::string text = "Meshes/a.nif\r\nMeshes/b.nif\r\n";
    for (int signal_number : { SIGINT, SIGTERM, SIGHUP, SIGUSR1 }) {
        SCOPED_TRACE(signal_number);
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        int status = status_of_child_in_wait(slave, [&] {
            dup2(out[1], STDOUT_FILENO);
            uint32_t written = 0;
            platform::Handle output = platform::get_std_handle(platform::STD_OUTPUT);
            platform::write_file(output, text.data(), static_cast<uint32_t>(text.size()), &written);
            raise(signal_number);
            _exit(5);
        });
        close(out[1]);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_TRUE(same_mode(mode_now(), original));
        std::string got;
        char buffer[256];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        close(out[0]);
        EXPECT_EQ(got, text);
    }
}

}  // namespace
