// Private to the POSIX platform: the list file's stream. Its failures are
// kept for the exit status and standard error. Given -o, the list goes to a
// new file beside the target, which the close renames over the target once
// the list is whole and on the disk, and removes otherwise.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// A new file's permissions, less the umask.
inline constexpr mode_t NEW_FILE_PERMISSIONS = 0666;

// -o: the file that the list replaces, relative to the working folder at the
// call (the folder the program was started in). A symbolic link is followed,
// so that the file it leads to is replaced and the link stays. False, with
// the error on standard error, where no list can replace it: the target
// exists and is no regular file, or its folder cannot be found.
bool choose_list_target(const char* file);

// The target's full name (its folder's real path and its name), as the report
// names it; empty without -o.
const std::string& list_target();

// Opens the new file beside the target, which the handler of a signal that
// ends the process removes until the close has finished it. Null, with errno
// set, on failure.
FILE* open_beside_list_target();

// The stream just opened for `path` is the list's, or failed to open (null,
// errno telling why). The tool opens no other file.
void list_opened(FILE* file, const std::string& path);

// Whether the list's open or any of its writes failed.
bool list_failed();

// The names in the folder open as `folder` that the walk passes over: the
// target, the new file beside it, and the link named by -o. Empty without -o.
std::vector<std::string_view> list_entries_in(int folder);

// Removes the new file if the close has not finished it. Async-signal-safe.
void remove_unfinished_list();

}  // namespace platform::posix
