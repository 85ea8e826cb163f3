// Simulated process frame calls: application type, fault filter, floating-point
// control and signal dispositions.
#include <csignal>
#include <map>

#include "sim/sim.h"
#include "sim/sim_state.h"

namespace sim {

namespace {

struct FrameState {
    platform::FaultFilter fault_filter = nullptr;
    uint32_t control_word = 0x0008001F;
    std::map<int, platform::SignalHandler> signals;
};

FrameState frame;

}  // namespace

void detail::reset_frame()
{
    frame = FrameState{};
}

}  // namespace sim

namespace platform {

using sim::frame;
using sim::detail::record;

void set_app_type(int)
{
    record("__set_app_type");
}

void set_fault_filter(FaultFilter filter)
{
    record("SetUnhandledExceptionFilter");
    frame.fault_filter = filter;
}

void reset_fpu()
{
    record("fninit");
}

uint32_t control_fp(uint32_t new_value, uint32_t mask)
{
    record("_controlfp");
    frame.control_word = (frame.control_word & ~mask) | (new_value & mask);
    return frame.control_word;
}

void fetch_main_args()
{
    record("__getmainargs");
}

SignalHandler set_signal(int signal_number, SignalHandler handler)
{
    record("signal");
    auto found = frame.signals.find(signal_number);
    SignalHandler previous = found == frame.signals.end() ? SIG_DFL : found->second;
    frame.signals[signal_number] = handler;
    return previous;
}

}  // namespace platform
