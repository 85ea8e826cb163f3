// Opening, writing and closing a buffered stream: the runtime library takes
// the ANSI name as it is, and the stream as it comes.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

Stream* stream_open(const char* name, const char* mode)
{
    return reinterpret_cast<Stream*>(std::fopen(name, mode));
}

std::size_t stream_write(const void* bytes, std::size_t count, Stream* stream)
{
    return std::fwrite(bytes, 1, count, reinterpret_cast<FILE*>(stream));
}

int stream_flush(Stream* stream)
{
    return std::fflush(reinterpret_cast<FILE*>(stream));
}

int stream_close(Stream* stream)
{
    return std::fclose(reinterpret_cast<FILE*>(stream));
}

}  // namespace platform
