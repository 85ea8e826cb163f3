// Directory enumeration: one accepted name per call from the runtime library's
// wildcard search, filtered by an attribute mask.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

inline constexpr uint32_t A_RDONLY = 0x01;
inline constexpr uint32_t A_HIDDEN = 0x02;
inline constexpr uint32_t A_SYSTEM = 0x04;
inline constexpr uint32_t A_SUBDIR = 0x10;
inline constexpr uint32_t A_ARCH = 0x20;
// A junction, a folder link or a mount point: the folder may lie anywhere.
inline constexpr uint32_t A_REPARSE_POINT = 0x400;

// One search. Zero-filled it is idle; there is no other initialisation.
struct DirScan {
    int32_t in_use;
    uint32_t attrib_mask;
    platform::FindData find_data;
    platform::SearchHandle handle;
};

// The state that dir_first and dir_next work on. A caller that nests searches
// installs a state of its own here and puts the previous one back afterwards.
extern DirScan* current_dir_scan;

// Starts a search and returns the first accepted entry's bare name, or "" when
// there is none. An empty pattern continues the open search instead.
std::string dir_first(const std::string& pattern, int32_t mask);

// The next accepted name of the open search, or "" at its end.
std::string dir_next();

// The service as a fresh process has it: no state of its own, none current.
void init_dir_scan();
