// Simulated console input: a queue of input records, the console mode, the
// sleep between polls, the keyboard mapping and the control handler.
#include <cctype>
#include <deque>
#include <string_view>

#include "sim/sim.h"
#include "sim/sim_state.h"

namespace sim {

namespace {

// A wait that polls this often without an end is taken as hung.
constexpr int SLEEP_LIMIT = 100000;

struct InputState {
    bool console = true;
    uint32_t mode = 0x1F7;
    std::deque<platform::InputRecord> queue;
    void (*sleep_hook)(int) = nullptr;
    int sleeps = 0;
    int failing_reads = 0;
    platform::CtrlHandler ctrl_handler = nullptr;
};

InputState input;

bool is_console_input(platform::Handle handle)
{
    return input.console && handle != nullptr && handle == detail::std_input();
}

}  // namespace

void detail::reset_input()
{
    input = InputState{};
}

void set_input_is_console(bool console)
{
    input.console = console;
}

void set_console_input_mode(uint32_t mode)
{
    input.mode = mode;
}

uint32_t console_input_mode()
{
    return input.mode;
}

void queue_input(const platform::InputRecord& record)
{
    input.queue.push_back(record);
}

void queue_key(uint8_t ch, uint16_t virtual_key, uint16_t scan, uint32_t state)
{
    platform::KeyEvent key{ true, 1, virtual_key, scan, ch, state };
    queue_input({ platform::KEY_EVENT, key });
    key.key_down = false;
    queue_input({ platform::KEY_EVENT, key });
}

std::size_t pending_input()
{
    return input.queue.size();
}

void on_sleep(void (*hook)(int))
{
    input.sleep_hook = hook;
}

int sleeps()
{
    return input.sleeps;
}

platform::InputRecord key_record(
    bool down, uint8_t ch, uint16_t virtual_key, uint16_t scan, uint32_t state, uint16_t repeat_count)
{
    return { platform::KEY_EVENT, platform::KeyEvent{ down, repeat_count, virtual_key, scan, ch, state } };
}

void fail_input_reads(int count)
{
    input.failing_reads = count;
}

bool raise_ctrl_event(uint32_t ctrl_type)
{
    return input.ctrl_handler && input.ctrl_handler(ctrl_type);
}

bool has_ctrl_handler()
{
    return input.ctrl_handler != nullptr;
}

}  // namespace sim

namespace platform {

using sim::input;
using sim::detail::record;

bool get_console_mode(Handle handle, uint32_t* mode)
{
    record("GetConsoleMode");
    if (!sim::is_console_input(handle))
        return false;
    *mode = input.mode;
    return true;
}

bool set_console_mode(Handle handle, uint32_t mode)
{
    record("SetConsoleMode");
    if (!sim::is_console_input(handle))
        return false;
    input.mode = mode;
    return true;
}

bool peek_console_input(Handle handle, InputRecord* record_out, uint32_t* count)
{
    record("PeekConsoleInputA");
    if (!sim::is_console_input(handle))
        return false;
    *count = input.queue.empty() ? 0 : 1;
    if (*count)
        *record_out = input.queue.front();
    return true;
}

bool read_console_input(Handle handle, InputRecord* record_out, uint32_t* count)
{
    record("ReadConsoleInputA");
    if (!sim::is_console_input(handle))
        return false;
    if (input.failing_reads > 0) {
        --input.failing_reads;
        return false;
    }
    *count = input.queue.empty() ? 0 : 1;
    if (*count) {
        *record_out = input.queue.front();
        input.queue.pop_front();
    }
    return true;
}

void sleep_ms(uint32_t)
{
    record("Sleep");
    ++input.sleeps;
    if (input.sleep_hook)
        input.sleep_hook(input.sleeps);
    if (input.sleeps >= sim::SLEEP_LIMIT)
        throw sim::Stuck{};
}

// The US layout's answers (Wine's, without an X display).
uint32_t map_virtual_key_to_char(uint32_t virtual_key)
{
    record("MapVirtualKeyA");
    if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9'))
        return virtual_key;
    if (virtual_key >= 0x60 && virtual_key <= 0x69)
        return '0' + (virtual_key - 0x60);
    switch (virtual_key) {
    case 0x03:
    case 0x08:
    case 0x09:
    case 0x0D:
    case 0x1B:
    case 0x20:
        return virtual_key;
    case 0x6A:
        return '*';
    case 0x6B:
        return '+';
    case 0x6D:
        return '-';
    case 0x6E:
        return '.';
    case 0x6F:
        return '/';
    default:
        break;
    }
    static constexpr std::string_view OEM_LOW = ";=,-./`";  // 0xBA..0xC0
    static constexpr std::string_view OEM_HIGH = "[\\]'";   // 0xDB..0xDE
    if (virtual_key >= 0xBA && virtual_key <= 0xC0)
        return static_cast<uint8_t>(OEM_LOW[virtual_key - 0xBA]);
    if (virtual_key >= 0xDB && virtual_key <= 0xDE)
        return static_cast<uint8_t>(OEM_HIGH[virtual_key - 0xDB]);
    return 0;
}

bool is_upper(int ch)
{
    return std::isupper(ch) != 0;
}

bool is_lower(int ch)
{
    return std::islower(ch) != 0;
}

int to_lower(int ch)
{
    return std::tolower(ch);
}

int to_upper(int ch)
{
    return std::toupper(ch);
}

bool set_ctrl_handler(CtrlHandler handler, bool add)
{
    record(add ? "SetConsoleCtrlHandler(add)" : "SetConsoleCtrlHandler(remove)");
    input.ctrl_handler = add ? handler : nullptr;
    return true;
}

}  // namespace platform
