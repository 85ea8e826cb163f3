// The native program's options. It writes a file, so it refuses what it does
// not understand rather than run. --help and --version are answered at once;
// the other options are taken in before anything is prepared or written:
// DATA_DIR becomes the working folder, -o the list file's target (relative to
// the folder the program was started in), and -n, -q and the fact that any
// argument was given change how the run goes (options.h, run_settings()).
#include "platform/posix/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/list_file.h"
#include "platform/posix/names.h"
#include "platform/posix/posix_support.h"

#ifndef AOL_VERSION
#error "AOL_VERSION names the program's version; the build defines it"
#endif

namespace platform {

namespace {

constexpr int BAD_ARGUMENT_STATUS = 2;
constexpr int WRITE_FAILURE_STATUS = 1;

constexpr std::string_view USAGE = "Usage: autooverridelist [OPTION]... [DATA_DIR]\n"
                                   "\n"
                                   "Lists the mod files of a Tarnvale Data folder for Overridelist.txt. It writes\n"
                                   "the path of every file in the folders below DATA_DIR (by default the current\n"
                                   "folder) into NewOverridelist.txt there (relative paths, forward slashes, CR LF\n"
                                   "line ends), and waits for a key before and after.\n"
                                   "\n"
                                   "  -n, --no-wait      wait for no key\n"
                                   "  -q, --quiet        print nothing on standard output (errors still go to\n"
                                   "                     standard error)\n"
                                   "  -o, --output=FILE  write the list to FILE instead: a new file beside it\n"
                                   "                     takes its place once the list is whole; a failed or\n"
                                   "                     interrupted run leaves FILE as it was\n"
                                   "      --help         show this help and exit\n"
                                   "      --version      show the version and exit\n"
                                   "\n"
                                   "Relative paths are taken from the current folder. In a script or a mod\n"
                                   "manager's hook, for example:\n"
                                   "  autooverridelist -nq -o ~/Games/Tarnvale/Overridelist.txt \\\n"
                                   "      ~/Games/Tarnvale/Data\n"
                                   "\n"
                                   "Exit status: 0 after a run without arguments, a failed one included. Given\n"
                                   "an option or DATA_DIR: 0 when the list was written whole, 1 when it could\n"
                                   "not be. 1 when --help or --version cannot write its text, 2 for a bad\n"
                                   "argument.\n"
                                   "See autooverridelist(1).\n";

int kept_argc = 0;
char** kept_argv = nullptr;

posix::Options taken;
RunSettings settings;
std::string list_file_ansi;

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

[[noreturn]] void refuse(std::string_view what, std::string_view argument)
{
    posix::print_error(std::string(what) + " '" + std::string(argument) + "'");
    write_all(STDERR_FILENO, USAGE);
    std::exit(BAD_ARGUMENT_STATUS);
}

[[noreturn]] void refuse_folder(const char* folder, int error)
{
    posix::print_error(std::string("cannot use '") + folder + "' as the Data folder: " + std::strerror(error));
    std::exit(BAD_ARGUMENT_STATUS);
}

struct Arguments {
    std::string_view first_answer;  // --help or --version, whichever came first
    const char* folder = nullptr;
    const char* output = nullptr;
};

// The argument after an option that takes one.
const char* option_argument(int* at, std::string_view option)
{
    if (*at + 1 >= kept_argc || kept_argv[*at + 1][0] == '\0')
        refuse("no file name after", option);
    return kept_argv[++*at];
}

// Short options, together in one argument: -nq, -nqo FILE, -oFILE.
void take_short_options(int* at, Arguments* arguments)
{
    std::string_view argument = kept_argv[*at];
    for (std::size_t letter = 1; letter < argument.size(); ++letter) {
        char option = argument[letter];
        if (option == 'n') {
            settings.key_waits = false;
        } else if (option == 'q') {
            taken.quiet = true;
        } else if (option == 'o') {
            bool joined = letter + 1 < argument.size();
            arguments->output = joined ? kept_argv[*at] + letter + 1 : option_argument(at, "-o");
            return;
        } else {
            refuse("unknown option", std::string("-") + option);
        }
    }
}

Arguments take_arguments()
{
    Arguments arguments;
    bool options_ended = false;
    for (int at = 1; at < kept_argc; ++at) {
        std::string_view argument = kept_argv[at];
        if (options_ended || argument == "-" || !argument.starts_with('-')) {
            if (arguments.folder)
                refuse("unexpected argument", argument);
            arguments.folder = kept_argv[at];
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument == "--help" || argument == "--version") {
            if (arguments.first_answer.empty())
                arguments.first_answer = argument;
        } else if (argument == "--no-wait") {
            settings.key_waits = false;
        } else if (argument == "--quiet") {
            taken.quiet = true;
        } else if (argument == "--output") {
            arguments.output = option_argument(&at, argument);
        } else if (argument.starts_with("--output=")) {
            arguments.output = kept_argv[at] + std::strlen("--output=");
            if (*arguments.output == '\0')
                refuse("no file name after", "--output");
        } else if (argument.starts_with("--")) {
            refuse("unknown option", argument);
        } else {
            take_short_options(&at, &arguments);
        }
    }
    return arguments;
}

}  // namespace

void keep_main_args(int argc, char** argv)
{
    kept_argc = argc;
    kept_argv = argv;
}

// Every argument is looked at before any is answered or acted on, so that a
// bad one is never passed over.
void fetch_main_args()
{
    Arguments arguments = take_arguments();
    const char* folder = arguments.folder;
    if (arguments.first_answer == "--help")
        answer(USAGE);
    if (arguments.first_answer == "--version")
        answer("autooverridelist " AOL_VERSION "\n");

    taken.given = kept_argc > 1;
    struct stat info;
    if (folder && stat(folder, &info) != 0)
        refuse_folder(folder, errno);
    if (folder && !S_ISDIR(info.st_mode))
        refuse_folder(folder, ENOTDIR);
    // A folder that cannot be read would be walked as an empty one, and its
    // empty list would replace the game's.
    if (folder && faccessat(AT_FDCWD, folder, R_OK | X_OK, AT_EACCESS) != 0)
        refuse_folder(folder, errno);
    // The target is found from the folder the program was started in, before
    // it enters DATA_DIR.
    if (arguments.output) {
        if (!posix::choose_list_target(arguments.output))
            std::exit(posix::LIST_FAILURE_STATUS);
        list_file_ansi = posix::names().to_ansi(posix::list_target());
        settings.list_file = list_file_ansi.c_str();
    }
    if (folder && chdir(folder) != 0)
        refuse_folder(folder, errno);
}

const RunSettings& run_settings()
{
    return settings;
}

namespace posix {

const Options& options()
{
    return taken;
}

void print_error(std::string_view message)
{
    std::string line = "autooverridelist: ";
    line += message;
    line += '\n';
    write_all(STDERR_FILENO, line);
}

}  // namespace posix

}  // namespace platform
