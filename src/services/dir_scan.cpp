// Directory enumeration over the runtime library's _findfirst/_findnext.
#include "services/dir_scan.h"

#include <cstring>
#include <new>

DirScan* current_dir_scan = nullptr;

namespace {

DirScan* own_scan = nullptr;  // made on first use; lives until the process ends

DirScan* own_state()
{
    if (!current_dir_scan) {
        own_scan = new DirScan{};
        current_dir_scan = own_scan;
    }
    return current_dir_scan;
}

uint32_t effective_mask(int32_t mask)
{
    auto bits = static_cast<uint32_t>(mask);
    // Bits 0x100 and above never stop an entry, and a file search always
    // takes archived files.
    return (bits & A_SUBDIR) ? bits | 0xFFFFFF00u : bits | 0xFFFFFF20u;
}

bool accepted(const DirScan& scan)
{
    return (scan.find_data.attrib & ~scan.attrib_mask) == 0;
}

std::string copy_name(const DirScan& scan)
{
    try {
        // Never past the field, even should the platform leave no NUL in it.
        const char* name = scan.find_data.name;
        const void* end = std::memchr(name, '\0', sizeof scan.find_data.name);
        return std::string(name, end ? static_cast<const char*>(end) : name + sizeof scan.find_data.name);
    } catch (const std::bad_alloc&) {
        return {};  // the search stays open
    }
}

// Steps to the next accepted entry; closes the search at its end.
bool skip_to_accepted(DirScan& scan)
{
    for (;;) {
        if (platform::find_next(scan.handle, &scan.find_data) != 0) {
            platform::find_close(scan.handle);
            scan.in_use = 0;
            return false;
        }
        if (accepted(scan))
            return true;
    }
}

std::string next_on(DirScan& scan)
{
    if (scan.in_use == 0)
        return {};
    if (!skip_to_accepted(scan))
        return {};
    return copy_name(scan);
}

}  // namespace

std::string dir_first(const std::string& pattern, int32_t mask)
{
    DirScan& scan = *own_state();
    if (pattern.empty())
        return next_on(scan);

    if (scan.in_use == 1) {
        platform::find_close(scan.handle);
        scan.in_use = 0;
    }
    scan.handle = platform::find_first(pattern.c_str(), &scan.find_data);
    if (scan.handle == platform::SEARCH_FAILED)
        return {};
    scan.attrib_mask = effective_mask(mask);
    if (!accepted(scan) && !skip_to_accepted(scan))
        return {};
    scan.in_use = 1;
    return copy_name(scan);
}

std::string dir_next()
{
    return next_on(*own_state());
}

void init_dir_scan()
{
    delete own_scan;
    own_scan = nullptr;
    current_dir_scan = nullptr;
}
