// Key input from a terminal, the terminal's mode while the tool waits for
// keys, and the signals: hang-up and termination as the console's close and
// shutdown events, the job-control stop and continue, and those that end the
// process.
//
// From the first key wait to the end of the process the terminal is in the
// wait's mode: non-canonical, without echo, so that each byte arrives at once,
// and keys typed during the walk are neither shown nor edited but stay queued
// for the second wait, which they end at once, as on a Windows console. ISIG
// stays on: Ctrl+C, Ctrl+\ and Ctrl+Z keep their meaning. The user's mode,
// read when the first wait begins, is put back at exit, before a signal ends
// the process and before Ctrl+Z stops it; on continuing, the wait's mode is
// set again. Each poll checks the mode too, and reads only what is there, so
// that no wait blocks whatever mode a shell left behind. A terminal that can
// no longer be read (hung up, or one a background job in an orphaned group
// would read) is closed, as after a hang-up.
#include <poll.h>
#include <signal.h>
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
#include "platform/posix/list_file.h"
#include "platform/posix/posix_support.h"

namespace platform {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint32_t CTRL_CLOSE_EVENT = 2;
constexpr uint32_t CTRL_SHUTDOWN_EVENT = 6;
// Their default ends the process. The faults keep theirs untouched: after
// one, nothing the process holds can be trusted.
constexpr int ENDING_SIGNALS[]
    = { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPROF, SIGVTALRM, SIGXCPU, SIGXFSZ };
constexpr int FAULT_SIGNALS[] = { SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP };
constexpr int CLOSE_SIGNALS[] = { SIGHUP, SIGTERM };

// Shared with the signal handlers. `user_mode` is written before
// `wait_mode_fd` names the terminal, and the terminal is restored before
// `wait_mode_fd` is cleared, so a handler never restores a mode half-saved.
termios user_mode{};
volatile sig_atomic_t wait_mode_fd = -1;
volatile sig_atomic_t received_event = 0;  // 0, or the control type to report
// A signal that ends the process, come while the echo was being written out:
// the write-out ends the process when its write has returned.
volatile sig_atomic_t pending_end = 0;
// While set, hang-up and termination are close events, which end the waits
// instead of the process.
volatile sig_atomic_t close_events_handled = 0;
// Set by every SIGCONT, so that a wait can tell a stop that took effect.
volatile sig_atomic_t continued = 0;

CtrlHandler installed_handler = nullptr;
struct sigaction close_actions_before[std::size(CLOSE_SIGNALS)];
bool ending_prepared = false;
bool job_control_prepared = false;
bool exit_restore_registered = false;
std::deque<uint8_t> queued;  // one key record per byte

// ---- The terminal's mode; all of these are async-signal-safe.

bool is_wait_mode(const termios& mode)
{
    return (mode.c_lflag & (ICANON | ECHO | IEXTEN)) == 0 && (mode.c_iflag & IXON) == 0 && mode.c_cc[VMIN] == 0
        && mode.c_cc[VTIME] == 0;
}

// Ctrl+S, Ctrl+Q, Ctrl+V and Ctrl+O are keys too, as on a Windows console;
// ISIG stays, so Ctrl+C remains a signal.
void make_wait_mode(termios& mode)
{
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
}

bool set_mode(int fd, const termios& mode)
{
    int result;
    do {
        result = tcsetattr(fd, TCSANOW, &mode);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// A job in the background leaves the terminal's mode alone: it is its
// shell's then, or that of the job in the foreground, and setting it would
// stop the job (SIGTTOU). A terminal that is not the controlling one has no
// foreground.
bool in_background(int fd)
{
    pid_t group = tcgetpgrp(fd);
    return group > 0 && group != getpgrp();
}

void restore_user_mode(int fd)
{
    if (fd >= 0 && !in_background(fd))
        set_mode(fd, user_mode);
}

// The user's mode back for good: no later continue sets the wait's again.
void leave_wait_mode()
{
    int fd = wait_mode_fd;
    wait_mode_fd = -1;
    restore_user_mode(fd);
}

// The signals whose handlers set the terminal's mode or end the process.
sigset_t mode_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int ending : ENDING_SIGNALS)
        sigaddset(&signals, ending);
    sigaddset(&signals, SIGTSTP);
    sigaddset(&signals, SIGCONT);
    return signals;
}

// The close event, from the main thread, for a terminal that cannot be read
// any more: the next poll reports it.
void take_as_closed()
{
    if (received_event == 0)
        received_event = CTRL_CLOSE_EVENT;
}

// Sets the wait's mode again if something else changed it.
void reassert_wait_mode(int fd)
{
    termios mode;
    if (tcgetattr(fd, &mode) != 0 || is_wait_mode(mode))
        return;
    make_wait_mode(mode);
    set_mode(fd, mode);
}

// ---- Signal handlers

// The terminal as the user had it, an unfinished list file gone, then the
// signal's default, which ends the process: at once from the main thread, on
// the handler's return from one.
void end_with_default(int signal_number)
{
    leave_wait_mode();
    posix::remove_unfinished_list();
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void on_signal(int signal_number)
{
    int saved_errno = errno;
    if ((signal_number == SIGHUP || signal_number == SIGTERM) && close_events_handled) {
        received_event = static_cast<sig_atomic_t>(signal_number == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_SHUTDOWN_EVENT);
        // Every wait ends at once from now on: the terminal is the user's again.
        leave_wait_mode();
    } else if (posix::write_out_echo_at_signal() || pending_end != 0) {
        // A second signal during a write-out that does not return ends the
        // process without it.
        end_with_default(signal_number);
    } else {
        pending_end = signal_number;
    }
    errno = saved_errno;
}

void install(int signal_number, void (*handler)(int), int flags)
{
    struct sigaction action { };
    action.sa_handler = handler;
    action.sa_flags = flags;
    // One handler at a time writes out the echo or sets the terminal's mode:
    // a stop or continue in the middle of an ending one would set the wait's
    // mode again before the end. SIGTTOU too: should the shell take the
    // terminal between the check for the foreground and the mode's change,
    // that change must not stop the process in the middle of a handler
    // (Ctrl+Z would then stop it twice).
    action.sa_mask = mode_signals();
    sigaddset(&action.sa_mask, SIGTTOU);
    sigaction(signal_number, &action, nullptr);
}

// Ctrl+Z: the user's mode back, then the stop as by default; on continuing,
// the handler is taken back and the wait's mode set again.
void on_stop(int)
{
    int saved_errno = errno;
    restore_user_mode(wait_mode_fd);
    std::signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    // The stop takes effect here, and the process goes on here when continued.
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    install(SIGTSTP, on_stop, SA_RESTART);
    int fd = wait_mode_fd;
    if (fd >= 0 && received_event == 0 && !in_background(fd))
        reassert_wait_mode(fd);
    errno = saved_errno;
}

// Also after a stop that the process could not see (SIGSTOP), or one whose
// shell put back its own mode.
void on_continue(int)
{
    int saved_errno = errno;
    continued = 1;
    int fd = wait_mode_fd;
    if (fd >= 0 && received_event == 0 && !in_background(fd))
        reassert_wait_mode(fd);
    errno = saved_errno;
}

bool ignored(int signal_number)
{
    struct sigaction before { };
    return sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN;
}

bool blocked(int signal_number)
{
    sigset_t mask;
    return sigprocmask(SIG_BLOCK, nullptr, &mask) == 0 && sigismember(&mask, signal_number) == 1;
}

// SA_RESTART: a read or a mode change that the stop interrupted goes on.
void prepare_job_control()
{
    if (job_control_prepared)
        return;
    job_control_prepared = true;
    if (!ignored(SIGTSTP))
        install(SIGTSTP, on_stop, SA_RESTART);
    install(SIGCONT, on_continue, SA_RESTART);
}

// ---- The wait's mode, on the main thread

void leave_wait_mode_at_exit()
{
    leave_wait_mode();
}

// A job in the background leaves the terminal to its shell, whose mode it
// has then, not the user's. Its wait stops it (SIGTTIN), as a read there
// would, until it is brought to the foreground; false while it stays behind.
// Where that read would fail instead, the terminal is closed to it: with
// SIGTTIN ignored or blocked (sent all the same, it would stop only the rest
// of a pipeline), and in an orphaned group, where the kernel discards the stop
// (no SIGCONT follows) and no shell can bring the job back.
bool wait_for_foreground(int fd)
{
    if (!in_background(fd))
        return true;
    if (!ignored(SIGTTIN) && !blocked(SIGTTIN)) {
        continued = 0;
        kill(0, SIGTTIN);
        bool behind = in_background(fd);
        if (!behind || continued != 0)
            return !behind;
    }
    take_as_closed();
    return false;
}

// The first call reads the user's mode and sets the wait's; every later one
// checks that the wait's mode still holds.
bool hold_wait_mode(int fd)
{
    prepare_job_control();
    if (!wait_for_foreground(fd))
        return false;
    // Those handlers wait while the mode is checked and set: one that put the
    // user's mode back between the check and the set would find it undone,
    // and nothing would put it back again.
    posix::SignalsHeld held(mode_signals());
    // A close event came since the peek's check: its handler has put the
    // user's mode back for good.
    if (received_event != 0)
        return false;
    if (wait_mode_fd == fd) {
        reassert_wait_mode(fd);
        return true;
    }
    leave_wait_mode();
    termios mode;
    if (tcgetattr(fd, &mode) != 0)
        return false;
    user_mode = mode;
    posix::prepare_ending_signals();
    if (!exit_restore_registered) {
        exit_restore_registered = true;
        std::atexit(leave_wait_mode_at_exit);
    }
    wait_mode_fd = fd;
    make_wait_mode(mode);
    if (!set_mode(fd, mode)) {
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

// Reads only what poll() reports: in line mode, which a shell may have put
// back, a read with nothing to take would block.
void read_pending(int fd)
{
    uint8_t bytes[512];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        pollfd ready{ fd, POLLIN, 0 };
        int polled = poll(&ready, 1, 0);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0 || (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            break;
        ssize_t got = read(fd, bytes + size, sizeof bytes - size);
        if (got < 0 && errno == EINTR)
            continue;
        // The kernel refuses a read from the background where the wait for
        // the foreground takes the terminal as closed (an orphaned group,
        // SIGTTIN ignored or blocked), should the job have gone there since.
        if (got < 0 && errno == EIO)
            take_as_closed();
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
    // Everything printed before a wait is out when it begins.
    posix::write_out_echo();
    int fd = posix::fd_of(handle);
    bool terminal = fd >= 0 && isatty(fd) == 1;
    // A hang-up that no SIGHUP announced (blocked, or a disowned job's
    // terminal) shows only here: every call on the terminal fails with EIO,
    // and a read gives end of file.
    if (fd >= 0 && !terminal && errno == EIO)
        take_as_closed();
    if (received_event != 0) {
        // Every wait after a hang-up or termination ends at once.
        leave_wait_mode();
        if (installed_handler)
            installed_handler(static_cast<uint32_t>(received_event));
        return true;
    }
    if (!terminal)
        return false;
    try {
        if (queued.empty()) {
            if (!hold_wait_mode(fd))
                return false;
            read_pending(fd);
        }
        if (queued.empty())
            return true;
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
    if (*count == 1)
        queued.pop_front();
    return true;
}

void sleep_ms(uint32_t milliseconds)
{
    // A signal cuts the sleep short, which only brings the next poll closer.
    timespec span{ static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L };
    nanosleep(&span, nullptr);
}

// No SA_RESTART for hang-up and termination: they should cut the poll's sleep
// short. Removed, the handler leaves them ending the process as before, or
// ignored if they were.
bool set_ctrl_handler(CtrlHandler handler, bool add)
{
    bool ok = true;
    if (add) {
        installed_handler = handler;
        close_events_handled = 1;
        for (std::size_t i = 0; i < std::size(CLOSE_SIGNALS); ++i) {
            ok = sigaction(CLOSE_SIGNALS[i], nullptr, &close_actions_before[i]) == 0 && ok;
            install(CLOSE_SIGNALS[i], on_signal, 0);
        }
        return ok;
    }
    close_events_handled = 0;
    for (std::size_t i = 0; i < std::size(CLOSE_SIGNALS); ++i) {
        if (close_actions_before[i].sa_handler == SIG_IGN)
            ok = sigaction(CLOSE_SIGNALS[i], &close_actions_before[i], nullptr) == 0 && ok;
    }
    installed_handler = nullptr;
    return ok;
}

namespace posix {

bool ending_signal_pending()
{
    return pending_end != 0;
}

void end_by_pending_signal()
{
    int signal_number = pending_end;
    if (signal_number == 0)
        return;
    posix::write_out_echo_at_signal();
    end_with_default(signal_number);
}

void prepare_ending_signals()
{
    if (ending_prepared)
        return;
    ending_prepared = true;
    for (int signal_number : ENDING_SIGNALS) {
        if (!ignored(signal_number))
            install(signal_number, on_signal, 0);
    }
    for (int signal_number : FAULT_SIGNALS) {
        if (!ignored(signal_number))
            install(signal_number, end_with_default, 0);
    }
}

}  // namespace posix

}  // namespace platform
