// Console text output: the bytes go to standard output unchanged.
#include "services/console_output.h"

#include "services/service_state.h"
#include "services/std_handles.h"

platform::Handle std_out_handle = nullptr;

void console_write(const char* bytes, std::size_t count)
{
    while (count > 0) {
        uint32_t written = 0;
        if (!platform::write_file(std_out_handle, bytes, static_cast<uint32_t>(count), &written) || written == 0)
            return;
        bytes += written;
        count -= written;
    }
}

void print_line(std::string_view text)
{
    console_write(text.data(), text.size());
    console_write("\r\n", 2);
}

void reset_console_output() { }
