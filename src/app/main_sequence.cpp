// The main sequence: banner, first key, walk and write, report, second key.
#include "app/main_sequence.h"

#include <string_view>
#include <vector>

#include "app/tree_walk.h"
#include "frame/process.h"
#include "platform/platform.h"
#include "services/console_output.h"
#include "services/file_channel.h"
#include "services/key_wait.h"

std::string root_dir;
int32_t list_file_number = 0;

namespace {

constexpr std::string_view RULE_LINE = "----------------------------------------------------------------------------";
constexpr std::string_view BANNER = "Auto Overridelist 1.0 by Pelmoran";
constexpr std::string_view PLACEMENT_HINT
    = "Move this file to your \\Tarnvale\\Data\\ path before running this application";
constexpr std::string_view CR_LINE = "\r";
constexpr std::string_view KEY_PROMPT = "Press any key to continue.";
constexpr std::string_view LIST_FILE_NAME = "NewOverridelist.txt";
constexpr std::string_view ENCODING_KEYWORD = "ascii";
constexpr std::string_view OPEN_FAILURE_PREFIX = "Error opening file: ";
constexpr std::string_view WRITE_FAILURE_PREFIX = "Error writing file: ";
constexpr std::string_view REPORT_FIRST = "The file has been written to the '";
constexpr std::string_view REPORT_LAST = "' directory.";
constexpr std::string_view NAME_NOTICE = "The new file's name should be NewOverridelist.txt";
constexpr std::string_view RENAME_NOTICE = "Rename it Overridelist.txt and move it to your Tarnvale directory.";
constexpr std::string_view FILE_REPORT_FIRST = "The file has been written to '";
constexpr std::string_view FILE_REPORT_LAST = "'.";

constexpr uint32_t CURRENT_DIRECTORY_BUFFER = 260;
constexpr int CURRENT_DIRECTORY_READS = 3;
constexpr int32_t LIST_FILE_LOCK = 2;

// A failed query leaves the text empty. A directory longer than the usual
// buffer is read again with the size the platform asked for; one that keeps
// growing under the reads is taken as unreadable.
std::string current_directory()
{
    std::vector<char> buffer(CURRENT_DIRECTORY_BUFFER);
    for (int attempt = 0; attempt < CURRENT_DIRECTORY_READS; ++attempt) {
        uint32_t length = platform::get_current_directory(static_cast<uint32_t>(buffer.size()), buffer.data());
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length);
    }
    return {};
}

void await_key()
{
    if (platform::run_settings().key_waits)
        wait_key();
}

[[noreturn]] void fail_and_end(std::string_view prefix, int32_t error)
{
    print_line(std::string(prefix) + std::to_string(error));
    await_key();
    end_process(0);
}

}  // namespace

void main_sequence()
{
    // Without a readable current directory the walk goes through relative
    // paths from the start directory, never from the root of the drive.
    std::string start = current_directory();
    root_dir = (start.empty() ? "." : start) + platform::PATH_SEPARATOR;

    const platform::RunSettings& settings = platform::run_settings();
    for (std::string_view line : { RULE_LINE, BANNER, PLACEMENT_HINT, RULE_LINE, CR_LINE })
        print_line(line);
    if (settings.key_waits)
        print_line(KEY_PROMPT);
    await_key();

    list_file_number = find_free_file_number();
    int32_t error = open_channel(
        std::string(LIST_FILE_NAME), MODE_OUTPUT, ACCESS_WRITE, LIST_FILE_LOCK, list_file_number, 0, ENCODING_KEYWORD);
    if (error != FILE_OK)
        fail_and_end(OPEN_FAILURE_PREFIX, error);

    // A list whose writing failed must not be reported as written: the user
    // would install a truncated list.
    error = walk_tree(root_dir);
    int32_t close_error = close_channel(0);
    if (error == FILE_OK)
        error = close_error;
    if (error != FILE_OK)
        fail_and_end(WRITE_FAILURE_PREFIX, error);

    print_line(CR_LINE);
    print_line(RULE_LINE);
    if (settings.list_file) {
        // Written where the game reads it: nothing is left to rename.
        print_line(std::string(FILE_REPORT_FIRST) + settings.list_file + std::string(FILE_REPORT_LAST));
    } else {
        print_line(std::string(REPORT_FIRST) + root_dir + std::string(REPORT_LAST));
        print_line(NAME_NOTICE);
        print_line(RENAME_NOTICE);
    }
    print_line(RULE_LINE);
    await_key();
    end_process(0);
}
