// Private to the POSIX platform: handles as file descriptors, and the standard
// descriptors closed at start.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform::posix {

// A handle is the descriptor plus one, so that no descriptor reads as null.
inline Handle handle_for_fd(int fd)
{
    return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1);
}

inline int fd_of(Handle handle)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

// Whether standard input, output or error (0, 1, 2) was closed when the
// process started; start-up then holds the descriptor on /dev/null.
bool std_descriptor_was_closed(int fd);

// The working directory as get_current_directory last handed it out: the
// text in the ANSI code page, and the path it stands for. Both empty before.
struct StartFolder {
    std::string ansi;
    std::string native;
};
const StartFolder& start_folder();

}  // namespace platform::posix
