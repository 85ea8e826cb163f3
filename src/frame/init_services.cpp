// Service preparation: channels, floating-point control, standard handles and
// the console input mode.
#include "frame/init_services.h"

#include "platform/platform.h"
#include "services/service_state.h"
#include "services/std_handles.h"

namespace {

constexpr uint32_t PRECISION_AND_ROUNDING = 0x30300;  // _MCW_PC | _MCW_RC
constexpr uint32_t ENABLE_PROCESSED_INPUT = 0x0001;

}  // namespace

void init_services()
{
    reset_file_channels();
    // 64-bit mantissa, round to nearest; the exception masks stay as they are.
    platform::control_fp(0, PRECISION_AND_ROUNDING);
    std_in_handle = platform::get_std_handle(platform::STD_INPUT);
    std_out_handle = platform::get_std_handle(platform::STD_OUTPUT);
    uint32_t mode = 0;
    if (std_in_handle && platform::get_console_mode(std_in_handle, &mode))
        platform::set_console_mode(std_in_handle, mode | ENABLE_PROCESSED_INPUT);
}
