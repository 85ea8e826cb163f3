// Key wait: polls the console's input queue until a key has been seen since
// the previous wait, and composes Alt+keypad codes across the records.
#include "services/key_wait.h"

#include <limits>

#include "platform/platform.h"
#include "services/ctrl_handler.h"
#include "services/key_changed.h"
#include "services/key_classes.h"
#include "services/service_state.h"
#include "services/std_handles.h"

platform::Handle std_in_handle = nullptr;

std::atomic<bool> key_changed{ false };

namespace {

constexpr uint32_t POLL_INTERVAL_MS = 50;

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

void reset_key_wait()
{
    key_changed.store(false);
    alt_code = 0;
    reset_ctrl_handler();
}
