// The console control handler of the key wait: its installation at the first
// poll, its removal at the process end, and the control types it takes.
#include "services/ctrl_handler.h"

#include "platform/platform.h"
#include "services/key_changed.h"

namespace {

// CTRL_CLOSE_EVENT (2), CTRL_LOGOFF_EVENT (5), CTRL_SHUTDOWN_EVENT (6).
constexpr uint32_t LAST_HANDLED_TYPE = 6;
constexpr uint32_t HANDLED_TYPES = 0x64;

bool ctrl_handler_installed = false;

}  // namespace

bool console_ctrl_handler(uint32_t ctrl_type)
{
    // Ctrl+C and Ctrl+Break are declined: the platform's default ends the
    // process.
    if (ctrl_type > LAST_HANDLED_TYPE || !(HANDLED_TYPES & (1u << ctrl_type)))
        return false;
    key_changed.store(true);
    return true;
}

void install_ctrl_handler()
{
    if (ctrl_handler_installed)
        return;
    ctrl_handler_installed = true;
    // Neither failure is acted on: keys still end a wait without the handler.
    platform::at_exit(remove_ctrl_handler);
    platform::set_ctrl_handler(console_ctrl_handler, true);
}

void remove_ctrl_handler()
{
    if (ctrl_handler_installed)
        platform::set_ctrl_handler(console_ctrl_handler, false);
}

void reset_ctrl_handler()
{
    ctrl_handler_installed = false;
}
