// The fault filter: a fault whose code maps to a signal goes to that signal's
// disposition; every other fault is left to the platform.
#include "frame/fault_filter.h"

#include <csignal>

#include "platform/platform.h"

namespace {

// The runtime library's numbers, which the handlers receive.
static_assert(SIGSEGV == 11 && SIGFPE == 8);

constexpr uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;

struct FaultSignal {
    uint32_t exception_code;
    int signal_number;
    bool resets_fpu;  // on the ignore path only
};

// EXCEPTION_FLT_STACK_CHECK (0xC0000092) and EXCEPTION_INT_OVERFLOW
// (0xC0000095) are deliberately absent: they are left to the platform.
constexpr FaultSignal FAULT_SIGNALS[] = {
    { EXCEPTION_ACCESS_VIOLATION, SIGSEGV, false },
    { EXCEPTION_FLT_DENORMAL_OPERAND, SIGFPE, true },
    { EXCEPTION_FLT_DIVIDE_BY_ZERO, SIGFPE, true },
    { EXCEPTION_FLT_INEXACT_RESULT, SIGFPE, true },
    { EXCEPTION_FLT_INVALID_OPERATION, SIGFPE, true },
    { EXCEPTION_FLT_OVERFLOW, SIGFPE, true },
    { EXCEPTION_FLT_UNDERFLOW, SIGFPE, true },
    { EXCEPTION_INT_DIVIDE_BY_ZERO, SIGFPE, false },
};

const FaultSignal* find_fault_signal(uint32_t exception_code)
{
    for (const FaultSignal& row : FAULT_SIGNALS) {
        if (row.exception_code == exception_code)
            return &row;
    }
    return nullptr;
}

}  // namespace

int32_t fault_filter(uint32_t exception_code)
{
    const FaultSignal* mapped = find_fault_signal(exception_code);
    if (!mapped)
        return EXCEPTION_CONTINUE_SEARCH;

    // signal() is the only way to read a disposition: it sets one and hands
    // back the previous.
    platform::SignalHandler previous = platform::set_signal(mapped->signal_number, SIG_DFL);
    if (previous == SIG_IGN) {
        platform::set_signal(mapped->signal_number, SIG_IGN);
        if (mapped->resets_fpu)
            platform::reset_fpu();
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    // SIG_ERR cannot come back for these signal numbers; should it, calling
    // it as a handler would jump to an invalid address.
    if (previous == SIG_DFL || previous == SIG_ERR)
        return EXCEPTION_CONTINUE_SEARCH;
    previous(mapped->signal_number);
    return EXCEPTION_CONTINUE_EXECUTION;
}
