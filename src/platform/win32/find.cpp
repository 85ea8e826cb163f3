// Wildcard search through msvcrt's _findfirst, _findnext and _findclose.
#include <cstddef>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace platform {

// msvcrt's _finddata_t: attrib, three 32-bit times, a 32-bit size, the name.
static_assert(sizeof(FindData) == 280);
static_assert(offsetof(FindData, size) == 16);
static_assert(offsetof(FindData, name) == 20);

SearchHandle find_first(const char* pattern, FindData* data)
{
    return _findfirst(pattern, data);
}

int find_next(SearchHandle handle, FindData* data)
{
    return _findnext(handle, data);
}

int find_close(SearchHandle handle)
{
    return _findclose(handle);
}

}  // namespace platform
