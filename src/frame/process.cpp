// The process frame: start-up step by step in the order the process relies on,
// the services' preparation, and the end through the runtime library's exit.
#include "frame/process.h"

#include "frame/fault_filter.h"
#include "platform/platform.h"
#include "services/console_output.h"
#include "services/dir_scan.h"
#include "services/file_channel.h"
#include "services/key_wait.h"
#include "services/std_handles.h"

namespace {

constexpr int CONSOLE_APP = 1;
constexpr uint32_t PRECISION_AND_ROUNDING = 0x30300;  // _MCW_PC | _MCW_RC
constexpr uint32_t ENABLE_PROCESSED_INPUT = 0x0001;

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

void init_services()
{
    init_file_channels();
    init_dir_scan();
    init_console_output();
    init_key_wait();
    // 64-bit mantissa, round to nearest; the exception masks stay as they are.
    platform::control_fp(0, PRECISION_AND_ROUNDING);
    std_in_handle = platform::get_std_handle(platform::STD_INPUT);
    std_out_handle = platform::get_std_handle(platform::STD_OUTPUT);
    uint32_t mode = 0;
    if (std_in_handle && platform::get_console_mode(std_in_handle, &mode))
        platform::set_console_mode(std_in_handle, mode | ENABLE_PROCESSED_INPUT);
}

void end_process(int32_t status)
{
    platform::exit_process(status);
}
