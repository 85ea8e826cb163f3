// Buffered streams: the C runtime's stdio, the same on every platform. Only
// the open is the platform's own (stream_open.cpp), since file names may need
// converting before the runtime sees them.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

namespace {

FILE* file(Stream* stream)
{
    return reinterpret_cast<FILE*>(stream);
}

}  // namespace

int stream_set_buffer(Stream* stream, int buffering, std::size_t size)
{
    return std::setvbuf(file(stream), nullptr, buffering == STREAM_FULL_BUFFERING ? _IOFBF : _IONBF, size);
}

std::size_t stream_write(const void* bytes, std::size_t count, Stream* stream)
{
    return std::fwrite(bytes, 1, count, file(stream));
}

int stream_flush(Stream* stream)
{
    return std::fflush(file(stream));
}

bool stream_error(Stream* stream)
{
    return std::ferror(file(stream)) != 0;
}

int stream_close(Stream* stream)
{
    return std::fclose(file(stream));
}

}  // namespace platform
