// Key input from a terminal, and hang-up and termination as the console's
// close and shutdown events.
//
// While a key wait polls, the terminal is in non-canonical mode without echo,
// so that each byte arrives at once; the mode is restored when the wait has
// taken its key, at exit, and before Ctrl+C or Ctrl+\ end the process. ISIG
// stays on: Ctrl+C remains a signal whose default ends the process.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <iterator>
#include <new>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace platform {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint32_t CTRL_CLOSE_EVENT = 2;
constexpr uint32_t CTRL_SHUTDOWN_EVENT = 6;
constexpr int ENDING_SIGNALS[] = { SIGINT, SIGQUIT };

// Shared with the signal handlers: `saved_mode` is written before
// `wait_mode_fd` names the terminal, and the terminal is restored before
// `wait_mode_fd` is cleared, so a handler never restores a mode half-saved.
termios saved_mode{};
volatile sig_atomic_t wait_mode_fd = -1;
volatile sig_atomic_t received_event = 0;  // 0, or the control type to report

struct sigaction saved_actions[std::size(ENDING_SIGNALS)];
std::deque<uint8_t> queued;  // one key record per byte
bool key_handed_out = false;
bool exit_restore_registered = false;
CtrlHandler installed_handler = nullptr;

void restore_mode_now()
{
    int fd = wait_mode_fd;
    if (fd >= 0)
        tcsetattr(fd, TCSANOW, &saved_mode);
}

void on_ending_signal(int signal_number)
{
    restore_mode_now();
    std::signal(signal_number, SIG_DFL);
    // Blocked while this handler runs; delivered, with its default, on return.
    raise(signal_number);
}

void on_close_signal(int signal_number)
{
    int saved_errno = errno;
    received_event = static_cast<sig_atomic_t>(signal_number == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_SHUTDOWN_EVENT);
    restore_mode_now();
    errno = saved_errno;
}

void leave_wait_mode()
{
    if (wait_mode_fd < 0)
        return;
    restore_mode_now();
    for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i)
        sigaction(ENDING_SIGNALS[i], &saved_actions[i], nullptr);
    wait_mode_fd = -1;
    key_handed_out = false;
}

void leave_wait_mode_at_exit()
{
    leave_wait_mode();
}

bool enter_wait_mode(int fd)
{
    if (wait_mode_fd == fd)
        return true;
    leave_wait_mode();
    termios mode;
    if (tcgetattr(fd, &mode) != 0)
        return false;
    saved_mode = mode;
    if (!exit_restore_registered) {
        exit_restore_registered = true;
        std::atexit(leave_wait_mode_at_exit);
    }
    struct sigaction action { };
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], nullptr, &saved_actions[i]);
        // A signal the process was started to ignore stays ignored.
        if (saved_actions[i].sa_handler != SIG_IGN)
            sigaction(ENDING_SIGNALS[i], &action, nullptr);
    }
    wait_mode_fd = fd;
    // Ctrl+S, Ctrl+Q, Ctrl+V and Ctrl+O are keys too, as on a Windows console;
    // ISIG stays, so Ctrl+C remains a signal.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &mode) != 0) {
        leave_wait_mode();
        return false;
    }
    return true;
}

// The length of the key that starts at `at`: an escape sequence (CSI, SS3,
// or ESC before one byte, which is Alt with that key) is one key.
std::size_t key_length(const uint8_t* at, std::size_t size)
{
    if (at[0] != ESC || size == 1)
        return 1;
    if (at[1] == '[') {
        std::size_t n = 2;
        while (n < size && at[n] >= 0x20 && at[n] <= 0x3F)
            ++n;
        return n < size && at[n] >= 0x40 && at[n] <= 0x7E ? n + 1 : n;
    }
    if (at[1] == 'O')
        return size >= 3 ? 3 : size;
    return 2;
}

void read_pending(int fd)
{
    uint8_t bytes[512];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        ssize_t got = read(fd, bytes + size, sizeof bytes - size);
        if (got < 0 && errno == EINTR)
            continue;
        // A terminal that hung up without a SIGHUP reaching us (ignored or
        // blocked) answers EIO for ever: take it as the close event.
        if (got < 0 && errno == EIO && received_event == 0)
            received_event = CTRL_CLOSE_EVENT;
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    for (std::size_t at = 0; at < size;) {
        queued.push_back(bytes[at]);
        at += key_length(bytes + at, size - at);
    }
}

void fill_record(uint8_t ch, InputRecord* record)
{
    *record = InputRecord{};
    record->event_type = KEY_EVENT;
    record->key.key_down = true;
    record->key.repeat_count = 1;
    record->key.ch = ch;
}

}  // namespace

bool peek_console_input(Handle handle, InputRecord* record, uint32_t* count)
{
    *count = 0;
    if (received_event != 0) {
        // Every wait after a hang-up or termination ends at once.
        leave_wait_mode();
        if (installed_handler)
            installed_handler(static_cast<uint32_t>(received_event));
        return true;
    }
    int fd = posix::fd_of(handle);
    if (fd < 0 || !isatty(fd))
        return false;
    try {
        if (queued.empty()) {
            if (!enter_wait_mode(fd))
                return false;
            read_pending(fd);
        }
        if (queued.empty()) {
            // The key that ends the wait has been taken: the terminal is
            // given back for the work that follows.
            if (key_handed_out)
                leave_wait_mode();
            return true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    fill_record(queued.front(), record);
    *count = 1;
    return true;
}

bool read_console_input(Handle handle, InputRecord* record, uint32_t* count)
{
    if (!peek_console_input(handle, record, count))
        return false;
    if (*count == 0)
        return true;
    queued.pop_front();
    if (record->key.ch != 0)
        key_handed_out = true;
    return true;
}

void sleep_ms(uint32_t milliseconds)
{
    // A signal cuts the sleep short, which only brings the next poll closer.
    timespec span{ static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L };
    nanosleep(&span, nullptr);
}

bool set_ctrl_handler(CtrlHandler handler, bool add)
{
    struct sigaction action { };
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the signal should cut the poll's sleep short.
    action.sa_handler = add ? on_close_signal : SIG_DFL;
    if (add)
        installed_handler = handler;
    bool ok = sigaction(SIGHUP, &action, nullptr) == 0;
    ok = sigaction(SIGTERM, &action, nullptr) == 0 && ok;
    if (!add)
        installed_handler = nullptr;
    return ok;
}

}  // namespace platform
