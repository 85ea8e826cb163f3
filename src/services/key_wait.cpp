// Key wait: polls the console's input queue until a key has been seen since
// the previous wait, and composes Alt+keypad codes across the records. Its
// console control handler turns a close, logoff or shutdown of the console
// into a key.
#include "services/key_wait.h"

#include <atomic>
#include <limits>

#include "platform/platform.h"
#include "services/key_classes.h"
#include "services/std_handles.h"

platform::Handle std_in_handle = nullptr;

namespace {

// Set when a key is seen, by the input drain or by the control handler on the
// platform's thread; read and cleared only by the wait's poll.
std::atomic<bool> key_changed{ false };

bool ctrl_handler_installed = false;

constexpr uint32_t POLL_INTERVAL_MS = 50;

// CTRL_CLOSE_EVENT (2), CTRL_LOGOFF_EVENT (5), CTRL_SHUTDOWN_EVENT (6).
constexpr uint32_t LAST_HANDLED_TYPE = 6;
constexpr uint32_t HANDLED_TYPES = 0x64;

constexpr uint32_t ALT_PRESSED = 0x03;            // RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED
constexpr uint32_t CTRL_OR_SHIFT_PRESSED = 0x1C;  // RIGHT_CTRL, LEFT_CTRL, SHIFT
constexpr uint16_t VK_NUMPAD0 = 0x60;
constexpr uint16_t VK_NUMPAD9 = 0x69;

// The number typed so far with Alt held on the keypad; 0 when none is pending.
// It outlives a wait: the Alt release may come during the next one.
int32_t alt_code = 0;

void mark_key()
{
    key_changed.store(true);
}

void add_alt_digit(int32_t digit)
{
    // Only whether the code is 0 matters, so a long run of digits stops
    // growing instead of overflowing (and perhaps wrapping to 0).
    if (alt_code > (std::numeric_limits<int32_t>::max() - 9) / 10)
        return;
    alt_code = alt_code * 10 + digit;
}

void complete_alt_code()
{
    mark_key();
    alt_code = 0;
}

void handle_key_record(const platform::KeyEvent& key)
{
    uint32_t state = key.control_key_state;
    bool alt_only = (state & ALT_PRESSED) != 0 && (state & CTRL_OR_SHIFT_PRESSED) == 0;

    if (!key.key_down) {
        if (!alt_only && alt_code != 0)
            complete_alt_code();
        return;
    }
    if (key.repeat_count == 0)
        return;
    bool keypad_digit = key.virtual_key_code >= VK_NUMPAD0 && key.virtual_key_code <= VK_NUMPAD9;
    bool counts = is_key(key.ch, key.virtual_scan_code, key.virtual_key_code, state);
    if (alt_only && keypad_digit) {
        add_alt_digit(key.virtual_key_code - VK_NUMPAD0);
        if (counts)
            mark_key();
    } else if (counts) {
        alt_code = 0;
        mark_key();
    } else if (!alt_only && alt_code != 0) {
        complete_alt_code();
    }
}

void install_ctrl_handler()
{
    if (ctrl_handler_installed)
        return;
    ctrl_handler_installed = true;
    // Neither failure is acted on: keys still end a wait without the handler.
    platform::at_exit(remove_ctrl_handler);
    platform::set_ctrl_handler(console_ctrl_handler, true);
}

void drain_console_input()
{
    install_ctrl_handler();
    for (;;) {
        platform::InputRecord record{};
        uint32_t count = 0;
        if (!platform::peek_console_input(std_in_handle, &record, &count) || count == 0)
            return;
        count = 0;
        // A read that fails or brings nothing ends this drain without handling
        // the peeked copy: the record is still queued, so the next poll takes
        // it once, and a persistent failure costs a poll, not a spin.
        if (!platform::read_console_input(std_in_handle, &record, &count) || count == 0)
            return;
        if (record.event_type == platform::KEY_EVENT)
            handle_key_record(record.key);
    }
}

}  // namespace

void wait_key()
{
    for (;;) {
        drain_console_input();
        if (key_changed.exchange(false))
            return;
        platform::sleep_ms(POLL_INTERVAL_MS);
    }
}

bool console_ctrl_handler(uint32_t ctrl_type)
{
    // Ctrl+C and Ctrl+Break are declined: the platform's default ends the
    // process.
    if (ctrl_type > LAST_HANDLED_TYPE || !(HANDLED_TYPES & (1u << ctrl_type)))
        return false;
    key_changed.store(true);
    return true;
}

void remove_ctrl_handler()
{
    if (ctrl_handler_installed)
        platform::set_ctrl_handler(console_ctrl_handler, false);
}

void init_key_wait()
{
    key_changed.store(false);
    alt_code = 0;
    ctrl_handler_installed = false;
}
