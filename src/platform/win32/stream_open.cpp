// Opening a buffered stream: the runtime library takes the ANSI name as it is.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

Stream* stream_open(const char* name, const char* mode)
{
    return reinterpret_cast<Stream*>(std::fopen(name, mode));
}

}  // namespace platform
