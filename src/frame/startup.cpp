// The process start-up, step by step in the order the process relies on.
#include "frame/startup.h"

#include "frame/fault_filter.h"
#include "frame/init_services.h"
#include "platform/platform.h"

namespace {

constexpr int CONSOLE_APP = 1;

}  // namespace

void start_process(MainSequence main_sequence)
{
    platform::set_app_type(CONSOLE_APP);
    platform::set_fault_filter(fault_filter);
    platform::reset_fpu();
    // The arguments and the environment are fetched but never used.
    platform::fetch_main_args();
    init_services();
    int32_t result = main_sequence();
    platform::cexit_and_exit_process(result);
}
