// Key wait: polls the console's input queue until a key-down record arrives.
#include "services/key_wait.h"

#include "services/service_state.h"
#include "services/std_handles.h"

platform::Handle std_in_handle = nullptr;

namespace {

constexpr uint32_t POLL_INTERVAL_MS = 50;

}  // namespace

void wait_key()
{
    for (;;) {
        platform::InputRecord record{};
        uint32_t count = 0;
        while (platform::peek_console_input(std_in_handle, &record, &count) && count != 0) {
            platform::read_console_input(std_in_handle, &record, &count);
            if (record.event_type == platform::KEY_EVENT && record.key.key_down)
                return;
        }
        platform::sleep_ms(POLL_INTERVAL_MS);
    }
}

void reset_key_wait() { }
