// Opening a buffered stream: the ANSI name goes back to the file system's
// UTF-8 first.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/names.h"

namespace platform {

namespace {

constexpr mode_t NEW_FILE_PERMISSIONS = 0666;

// The open(2) flags of an fopen mode string; -1 for a mode fopen refuses.
int open_flags(const char* mode)
{
    bool update = std::string(mode).find('+') != std::string::npos;
    switch (mode[0]) {
    case 'r':
        return update ? O_RDWR : O_RDONLY;
    case 'w':
        return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a':
        return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
        return -1;
    }
}

}  // namespace

Stream* stream_open(const char* name, const char* mode)
{
    try {
        std::string path = posix::names().to_utf8(name);
        // The file channel writes separators as backslashes, which Wine
        // takes as separators too; here they would become part of a name.
        for (char& c : path) {
            if (c == '\\')
                c = '/';
        }
        int flags = open_flags(mode);
        if (flags < 0)
            return nullptr;
        // fopen would wait for ever on a FIFO that no one reads; without
        // blocking, such a name fails at once, as a name that cannot be
        // created does. Writes block again, so a slow reader is no failure.
        int fd = open(path.c_str(), flags | O_NONBLOCK, NEW_FILE_PERMISSIONS);
        if (fd < 0)
            return nullptr;
        int status = fcntl(fd, F_GETFL);
        FILE* file = status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0 ? nullptr : fdopen(fd, mode);
        if (!file)
            close(fd);
        return reinterpret_cast<Stream*>(file);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace platform
