// List entries: the file's path relative to the start directory, forward slashes.
#include "app/list_entry.h"

#include "app/main_sequence.h"
#include "platform/platform.h"
#include "services/console_output.h"
#include "services/file_channel.h"

std::string replace_all(const std::string& source, const std::string& find, const std::string& replacement)
{
    if (find.empty())
        return source;
    std::string result;
    result.reserve(source.size());
    std::size_t from = 0;
    for (std::size_t at = source.find(find); at != std::string::npos; at = source.find(find, from)) {
        result.append(source, from, at - from);
        result += replacement;
        from = at + find.size();
    }
    result.append(source, from, std::string::npos);
    return result;
}

int32_t emit_entry(const std::string& path, const std::string& name)
{
    // Only the leading start directory is cut: the same text can stand again
    // deeper in the path.
    std::string full = path + name;
    std::string relative = full.starts_with(root_dir) ? full.substr(root_dir.size()) : full;
    std::string entry = replace_all(relative, std::string(1, platform::PATH_SEPARATOR), "/");
    print_line(entry);
    return put_bytes(list_file_number, 0, entry + "\r\n");
}
