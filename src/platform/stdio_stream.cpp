// Buffered streams: the C runtime's stdio, the same on every platform. The
// open, the writes and the close are each platform's own: file names may need
// converting before the runtime sees them, and the native program watches its
// list file's writes and finishes the file at the close (list_file.cpp).
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

bool stream_error(Stream* stream)
{
    return std::ferror(file(stream)) != 0;
}

}  // namespace platform
