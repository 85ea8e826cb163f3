// Simulated process frame calls: application type, fault filter, floating-point
// control, signal dispositions and the run's settings.
#include <csignal>
#include <map>

#include "sim/sim.h"
#include "sim/sim_state.h"

namespace sim {

namespace {

// What FNINIT leaves, in _controlfp's terms: every exception masked, 64-bit
// precision, rounding to nearest.
constexpr uint32_t INITIAL_CONTROL_WORD = 0x0008001F;

struct FrameState {
    int app_type = 0;
    platform::FaultFilter fault_filter = nullptr;
    uint32_t control_word = INITIAL_CONTROL_WORD;
    std::map<int, platform::SignalHandler> signals;
    platform::RunSettings settings;
};

FrameState frame;

}  // namespace

void detail::reset_frame()
{
    frame = FrameState{};
}

int app_type()
{
    return frame.app_type;
}

int32_t raise_fault(uint32_t exception_code)
{
    return frame.fault_filter ? frame.fault_filter(exception_code) : 0;
}

platform::SignalHandler signal_disposition(int signal_number)
{
    auto found = frame.signals.find(signal_number);
    return found == frame.signals.end() ? SIG_DFL : found->second;
}

void set_signal_disposition(int signal_number, platform::SignalHandler handler)
{
    frame.signals[signal_number] = handler;
}

void set_run_settings(const platform::RunSettings& settings)
{
    frame.settings = settings;
}

uint32_t control_word()
{
    return frame.control_word;
}

void set_control_word(uint32_t word)
{
    frame.control_word = word;
}

}  // namespace sim

namespace platform {

using sim::frame;
using sim::detail::record;

void set_app_type(int type)
{
    record("__set_app_type");
    frame.app_type = type;
}

void set_fault_filter(FaultFilter filter)
{
    record("SetUnhandledExceptionFilter");
    frame.fault_filter = filter;
}

void reset_fpu()
{
    record("fninit");
    frame.control_word = sim::INITIAL_CONTROL_WORD;
}

uint32_t control_fp(uint32_t new_value, uint32_t mask)
{
    record("_controlfp");
    frame.control_word = (frame.control_word & ~mask) | (new_value & mask);
    return frame.control_word;
}

// Read without a call in the log: no operating-system call answers it.
const RunSettings& run_settings()
{
    return frame.settings;
}

void fetch_main_args()
{
    record("__getmainargs");
}

SignalHandler set_signal(int signal_number, SignalHandler handler)
{
    record("signal");
    SignalHandler previous = sim::signal_disposition(signal_number);
    frame.signals[signal_number] = handler;
    return previous;
}

}  // namespace platform
