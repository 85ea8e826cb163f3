// Opening a buffered stream: the ANSI name goes back to the file system's
// UTF-8 first. Its writes and close are the list file's (list_file.cpp).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/list_file.h"
#include "platform/posix/names.h"

namespace platform {

namespace {

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

FILE* open_path(const std::string& path, const char* mode)
{
    int flags = open_flags(mode);
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    // fopen would wait for ever on a FIFO that no one reads; without
    // blocking, such a name fails at once, as a name that cannot be
    // created does. Writes block again, so a slow reader is no failure.
    int fd = open(path.c_str(), flags | O_NONBLOCK, posix::NEW_FILE_PERMISSIONS);
    if (fd < 0)
        return nullptr;
    int status = fcntl(fd, F_GETFL);
    FILE* file = status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0 ? nullptr : fdopen(fd, mode);
    if (!file) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

}  // namespace

// The tool opens one file, its list: given -o, the list goes beside the
// target whatever name the main sequence opens.
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
        bool beside_target = !posix::list_target().empty() && mode[0] == 'w';
        FILE* file = beside_target ? posix::open_beside_list_target() : open_path(path, mode);
        posix::list_opened(file, path);
        return reinterpret_cast<Stream*>(file);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace platform
