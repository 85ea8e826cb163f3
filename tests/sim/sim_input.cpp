// Simulated console input: a queue of input records, the console mode, the
// sleep between polls, the keyboard mapping and the control handler.
#include <cctype>
#include <deque>

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
    platform::CtrlHandler ctrl_handler = nullptr;
};

InputState input;

bool is_console_input(platform::Handle handle)
{
    return input.console && handle != nullptr && handle == platform::get_std_handle(platform::STD_INPUT);
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

uint32_t map_virtual_key_to_char(uint32_t virtual_key)
{
    record("MapVirtualKeyA");
    if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9'))
        return virtual_key;
    if (virtual_key >= 0x60 && virtual_key <= 0x69)
        return '0' + (virtual_key - 0x60);
    switch (virtual_key) {
    case 0x08:
    case 0x09:
    case 0x0D:
    case 0x1B:
    case 0x20:
        return virtual_key;
    default:
        return 0;
    }
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
