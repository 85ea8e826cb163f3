// Wildcard search through msvcrt's _findfirst, _findnext and _findclose, and
// the layout of the record they fill on each architecture; a folder's identity.
#include <cstddef>
#include <cstring>
#include <limits>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace platform {

namespace {

// i686 msvcrt's _finddata_t: attrib, three 32-bit times, a 32-bit size, the
// name. The seam's record is this one, so the i686 build hands it over as is.
static_assert(sizeof(FindData) == 280);
static_assert(offsetof(FindData, time_create) == 4);
static_assert(offsetof(FindData, size) == 16);
static_assert(offsetof(FindData, name) == 20);

// x86_64 msvcrt's _finddata_t has 64-bit times (Microsoft's _finddata64i32_t);
// their alignment puts four bytes of padding after attrib and the name at 36.
struct FindData64 {
    uint32_t attrib;
    int64_t time_create;
    int64_t time_access;
    int64_t time_write;
    uint32_t size;
    char name[260];
};
static_assert(sizeof(FindData64) == 296);
static_assert(offsetof(FindData64, time_create) == 8);
static_assert(offsetof(FindData64, size) == 32);
static_assert(offsetof(FindData64, name) == 36);

}  // namespace

#if defined(_WIN64)

namespace {

// A time past 2038 does not fit the seam's 32-bit field; -1 is what the
// 32-bit-time record holds for a time it cannot represent. Nothing reads the
// times, but the record stays truthful.
int32_t narrow_time(int64_t time)
{
    using Limits = std::numeric_limits<int32_t>;
    return time < Limits::min() || time > Limits::max() ? -1 : static_cast<int32_t>(time);
}

void to_seam(const FindData64& from, FindData* to)
{
    to->attrib = from.attrib;
    to->time_create = narrow_time(from.time_create);
    to->time_access = narrow_time(from.time_access);
    to->time_write = narrow_time(from.time_write);
    to->size = from.size;
    std::memcpy(to->name, from.name, sizeof to->name);
}

}  // namespace

SearchHandle find_first(const char* pattern, FindData* data)
{
    FindData64 found;
    SearchHandle handle = _findfirst(pattern, &found);
    if (handle != SEARCH_FAILED)
        to_seam(found, data);
    return handle;
}

int find_next(SearchHandle handle, FindData* data)
{
    FindData64 found;
    int result = _findnext(handle, &found);
    if (result == 0)
        to_seam(found, data);
    return result;
}

#else

SearchHandle find_first(const char* pattern, FindData* data)
{
    return _findfirst(pattern, data);
}

int find_next(SearchHandle handle, FindData* data)
{
    return _findnext(handle, data);
}

#endif

int find_close(SearchHandle handle)
{
    return _findclose(handle);
}

bool identify_folder(const char* path, FolderId* id)
{
    // Backup semantics let a folder be opened at all. Every share mode keeps
    // the open from failing on, or getting in the way of, a folder in use.
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool read = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!read)
        return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

}  // namespace platform
