// Opening a buffered stream: the ANSI name goes back to the file system's
// UTF-8 first.
#include <cstdio>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/names.h"

namespace platform {

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
        return reinterpret_cast<Stream*>(std::fopen(path.c_str(), mode));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace platform
