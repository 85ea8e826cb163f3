// The key wait's drain and is_key on a fuzzed series of input records,
// console control events and failed reads, arriving between polls and
// between waits. A press with a character byte and a repeat count, once read
// from the queue, ends the wait at that poll; so does a handled control
// event at the next poll; and no wait goes on polling once its input is
// used up.
#include <fuzzer/FuzzedDataProvider.h>

#include <deque>

#include "fuzz/fuzz_support.h"
#include "services/key_classes.h"
#include "services/key_wait.h"

namespace {

constexpr uint32_t CTRL_CLOSE_EVENT = 2;
constexpr int MAX_WAITS = 4;
constexpr int MAX_STEPS = 24;

FuzzedDataProvider* data = nullptr;
std::deque<platform::InputRecord> queued;  // a copy of the simulated queue
bool must_end = false;                     // a key was seen: the wait may not sleep again
int steps = 0;

bool always_a_key(const platform::InputRecord& record)
{
    const platform::KeyEvent& key = record.key;
    return record.event_type == platform::KEY_EVENT && key.key_down && key.repeat_count > 0 && key.ch != 0;
}

// The records the last drain took out of the queue.
void note_drained()
{
    while (queued.size() > sim::pending_input()) {
        if (always_a_key(queued.front()))
            must_end = true;
        queued.pop_front();
    }
}

platform::InputRecord record()
{
    platform::InputRecord r{};
    r.event_type = data->ConsumeBool() ? platform::KEY_EVENT : data->ConsumeIntegralInRange<uint16_t>(0, 0x20);
    r.key.key_down = data->ConsumeBool();
    r.key.repeat_count = data->ConsumeIntegralInRange<uint16_t>(0, 3);
    r.key.virtual_key_code = data->ConsumeIntegral<uint8_t>();
    r.key.virtual_scan_code = data->ConsumeIntegralInRange<uint16_t>(0, 100);
    r.key.ch = data->ConsumeBool() ? 0 : data->ConsumeIntegral<uint8_t>();
    r.key.control_key_state = data->ConsumeIntegral<uint16_t>() & 0x1FF;
    if (r.key.ch != 0)
        FUZZ_CHECK(is_key(r.key.ch, r.key.virtual_scan_code, r.key.virtual_key_code, r.key.control_key_state));
    return r;
}

// A control event from the platform's thread: close, logoff and shutdown are
// handled, and mark a key, once the wait has installed its handler.
void control_event(uint32_t type)
{
    bool installed = sim::has_ctrl_handler();
    bool handled = sim::raise_ctrl_event(type);
    FUZZ_CHECK(handled == (installed && (type == 2 || type == 5 || type == 6)));
    if (handled)
        must_end = true;
}

// What arrives while the wait sleeps: records, failing reads, events.
void between_polls()
{
    int records = data->ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < records; ++i) {
        queued.push_back(record());
        sim::queue_input(queued.back());
    }
    if (data->ConsumeIntegralInRange(0, 3) == 0)
        sim::fail_input_reads(data->ConsumeIntegralInRange(1, 3));
    if (data->ConsumeIntegralInRange(0, 3) == 0)
        control_event(data->ConsumeIntegralInRange<uint32_t>(0, 8));
}

void on_sleep(int)
{
    note_drained();
    FUZZ_CHECK(!must_end);
    if (steps++ < MAX_STEPS && data->remaining_bytes() > 0)
        between_polls();
    else
        control_event(CTRL_CLOSE_EVENT);  // the user closes the console: the wait must end
    // A wait that keeps polling after the close is caught at the next sleep.
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider input(bytes, size);
    data = &input;
    fresh_process();
    queued.clear();
    must_end = false;
    steps = 0;
    sim::set_input_is_console(input.ConsumeIntegralInRange(0, 7) != 0);
    sim::on_sleep(on_sleep);
    between_polls();  // type-ahead

    int waits = input.ConsumeIntegralInRange(1, MAX_WAITS);
    for (int wait = 0; wait < waits; ++wait) {
        wait_key();
        note_drained();
        must_end = false;
        // The walk runs between the waits: records and events may come.
        if (input.ConsumeBool())
            between_polls();
    }
    sim::on_sleep(nullptr);
    data = nullptr;
    return 0;
}
