// Private to the POSIX platform: what the native program's options change
// outside the main sequence, which reads them through run_settings().
#pragma once

#include <string_view>

namespace platform::posix {

// The status of a run given options whose list could not be written whole.
inline constexpr int LIST_FAILURE_STATUS = 1;

struct Options {
    // Any option or a folder: a run then tells its outcome to a script, on
    // standard error and in its exit status. A run without arguments stays
    // the exe's, status 0 whatever happens.
    bool given = false;
    // No standard output at all; errors still go to standard error.
    bool quiet = false;
};

const Options& options();

// One line on standard error, after the program's name.
void print_error(std::string_view message);

}  // namespace platform::posix
