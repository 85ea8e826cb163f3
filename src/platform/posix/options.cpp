// The native program's options. It writes a file into the current folder, so
// it refuses what it does not understand rather than run: only --help and
// --version are answered, and nothing else is prepared, written or waited for.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

#ifndef AOL_VERSION
#error "AOL_VERSION names the program's version; the build defines it"
#endif

namespace platform {

namespace {

constexpr int BAD_ARGUMENT_STATUS = 2;
constexpr int WRITE_FAILURE_STATUS = 1;

constexpr std::string_view USAGE = "Usage: autooverridelist [--help | --version]\n"
                                   "\n"
                                   "Lists the mod files of a Tarnvale Data folder for Overridelist.txt. Run it\n"
                                   "inside the game's Data folder: it writes the path of every file in the folders\n"
                                   "below it into NewOverridelist.txt there (relative paths, forward slashes, CR LF\n"
                                   "line ends), and waits for a key before and after.\n"
                                   "\n"
                                   "  --help     show this help and exit\n"
                                   "  --version  show the version and exit\n"
                                   "\n"
                                   "Exit status: 0 after a run, a failed one included; 1 when --help or\n"
                                   "--version cannot write its text; 2 for a bad argument.\n"
                                   "See autooverridelist(1).\n";

int kept_argc = 0;
char** kept_argv = nullptr;

bool write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t done = write(fd, text.data(), text.size());
        if (done <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// A standard output closed at start is held on /dev/null, which would take
// the text without a word: it has not been written all the same.
[[noreturn]] void answer(std::string_view text)
{
    bool answered = !posix::std_descriptor_was_closed(STDOUT_FILENO) && write_all(STDOUT_FILENO, text);
    std::exit(answered ? EXIT_SUCCESS : WRITE_FAILURE_STATUS);
}

[[noreturn]] void refuse(std::string_view argument)
{
    std::string message = "autooverridelist: ";
    message += argument.starts_with("-") ? "unknown option '" : "unexpected argument '";
    message += argument;
    message += "'\n";
    write_all(STDERR_FILENO, message);
    write_all(STDERR_FILENO, USAGE);
    std::exit(BAD_ARGUMENT_STATUS);
}

}  // namespace

void keep_main_args(int argc, char** argv)
{
    kept_argc = argc;
    kept_argv = argv;
}

// Every argument is looked at before any is answered, so that a bad one is
// never passed over.
void fetch_main_args()
{
    std::string_view first;
    for (int i = 1; i < kept_argc; ++i) {
        std::string_view argument = kept_argv[i];
        if (argument != "--help" && argument != "--version")
            refuse(argument);
        if (first.empty())
            first = argument;
    }
    if (first == "--help")
        answer(USAGE);
    if (first == "--version")
        answer("autooverridelist " AOL_VERSION "\n");
}

}  // namespace platform
