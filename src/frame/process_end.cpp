// The orderly end of the process, through the runtime library's exit.
#include "frame/process_end.h"

#include "platform/platform.h"

void end_process(int32_t status)
{
    platform::exit_process(status);
}
