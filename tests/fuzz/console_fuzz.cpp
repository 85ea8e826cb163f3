// The console service on a fuzzed console (buffer, window, cursor,
// attribute, failing calls) or a redirected handle, given a fuzzed series of
// print_line and console_write requests and of changes the user makes in
// between. Every request must end (libFuzzer's time-out catches one that does
// not), no call may reach outside the buffer, and redirected bytes arrive
// unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "services/console_output.h"

namespace {

constexpr int MAX_REQUESTS = 48;
constexpr int16_t MAX_SIDE = 160;

// Which output calls fail: one bit per call, taken in turn.
uint64_t failure_bits = 0;
unsigned failure_turn = 0;
// A request whose geometry query fails works on the fallback geometry, which
// may be larger than the real buffer: its calls may then reach outside.
bool geometry_unknown = false;

bool call_fails(sim::OutputCall call)
{
    bool fails = (failure_bits >> (failure_turn++ % 64)) & 1;
    if (fails && call == sim::OutputCall::SCREEN_INFO)
        geometry_unknown = true;
    return fails;
}

// FUZZ_TRACE=1 in the environment shows what an input does.
const bool TRACE = std::getenv("FUZZ_TRACE") != nullptr;

void trace_state(const char* event)
{
    if (!TRACE)
        return;
    platform::Coord size = sim::console_size();
    platform::Rect w = sim::console_window();
    platform::Coord c = sim::console_cursor();
    std::fprintf(stderr, "%s: buffer %dx%d window (%d,%d,%d,%d) cursor (%d,%d)\n", event, size.x, size.y, w.left, w.top,
        w.right, w.bottom, c.x, c.y);
}

void trace_text(const char* request, const std::string& text)
{
    if (!TRACE)
        return;
    std::fprintf(stderr, "%s %zu bytes:", request, text.size());
    for (unsigned char c : text)
        std::fprintf(stderr, c == '\n' ? " LF" : c == '\r' ? " CR" : " .");
    std::fprintf(stderr, "\n");
}

platform::Rect window_inside(FuzzedDataProvider& data, platform::Coord size)
{
    auto left = data.ConsumeIntegralInRange<int16_t>(0, static_cast<int16_t>(size.x - 1));
    auto right = data.ConsumeIntegralInRange<int16_t>(left, static_cast<int16_t>(size.x - 1));
    auto top = data.ConsumeIntegralInRange<int16_t>(0, static_cast<int16_t>(size.y - 1));
    auto bottom = data.ConsumeIntegralInRange<int16_t>(top, static_cast<int16_t>(size.y - 1));
    return platform::Rect{ left, top, right, bottom };
}

platform::Coord cell_inside(FuzzedDataProvider& data, platform::Coord size)
{
    return platform::Coord{ data.ConsumeIntegralInRange<int16_t>(0, static_cast<int16_t>(size.x - 1)),
        data.ConsumeIntegralInRange<int16_t>(0, static_cast<int16_t>(size.y - 1)) };
}

// Text with many line ends, so that rows wrap and the screen scrolls often.
std::string text(FuzzedDataProvider& data)
{
    std::string bytes = data.ConsumeRandomLengthString(700);
    for (char& c : bytes) {
        if (static_cast<unsigned char>(c) % 7 == 0)
            c = (c & 8) ? '\n' : '\r';
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    fresh_process();
    failure_bits = data.ConsumeBool() ? data.ConsumeIntegral<uint64_t>() : 0;
    failure_turn = 0;
    sim::on_output_call(call_fails);
    const bool console = data.ConsumeBool();
    // The user may resize the buffer on Windows; Wine never does.
    const bool resizes = console && data.ConsumeBool();
    if (console) {
        platform::Coord buffer{ data.ConsumeIntegralInRange<int16_t>(1, MAX_SIDE),
            data.ConsumeIntegralInRange<int16_t>(1, MAX_SIDE) };
        sim::make_console(buffer.x, buffer.y, window_inside(data, buffer));
        sim::set_console_cursor(cell_inside(data, buffer));
        sim::set_console_attribute(data.ConsumeIntegral<uint16_t>());
    }
    // 0: each write takes nothing, yet reports success.
    uint32_t write_limit = data.ConsumeIntegralInRange<uint32_t>(0, 9);
    if (!console && write_limit < 9)
        sim::limit_stdout_writes(write_limit);
    if (TRACE)
        std::fprintf(stderr, "failure bits %016llx\n", static_cast<unsigned long long>(failure_bits));
    trace_state("start");
    std::string expected;

    for (int request = 0; request < MAX_REQUESTS && data.remaining_bytes() > 0; ++request) {
        platform::Coord buffer = sim::console_size();
        int faults_before = sim::console_argument_faults();
        geometry_unknown = false;
        switch (data.ConsumeIntegralInRange(0, 6)) {
        case 0:
        case 1: {
            std::string line = text(data);
            trace_text("print_line", line);
            print_line(line);
            expected += line + "\r\n";
            break;
        }
        case 2:
        case 3: {
            std::string part = text(data);
            trace_text("console_write", part);
            console_write(part.data(), part.size());
            expected += part;
            break;
        }
        case 4:
            if (console)
                sim::set_console_window(window_inside(data, buffer));
            break;
        case 5:
            if (console)
                sim::set_console_cursor(cell_inside(data, buffer));
            break;
        case 6:
            if (resizes) {
                sim::resize_console(data.ConsumeIntegralInRange<int16_t>(1, MAX_SIDE),
                    data.ConsumeIntegralInRange<int16_t>(1, MAX_SIDE));
            }
            break;
        }
        trace_state("after");
        bool faulted = sim::console_argument_faults() != faults_before;
        if (faulted && !resizes && !geometry_unknown)
            std::fprintf(stderr, "%s\n", sim::last_argument_fault().c_str());
        FUZZ_CHECK(!faulted || resizes || geometry_unknown);
        platform::Coord cursor = sim::console_cursor();
        buffer = sim::console_size();
        FUZZ_CHECK(!console || (cursor.x >= 0 && cursor.y >= 0 && cursor.x < buffer.x && cursor.y < buffer.y));
    }
    // Redirected output: every byte, in order, nothing added, nothing taken.
    if (!console && !failure_bits)
        FUZZ_CHECK(sim::stdout_bytes() == (write_limit == 0 ? std::string() : expected));
    sim::on_output_call(nullptr);
    return 0;
}
