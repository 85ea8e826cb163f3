// List entries: the file's path relative to the start directory, forward slashes.
#include "app/list_entry.h"

#include <algorithm>
#include <cstring>

#include "app/main_sequence.h"
#include "platform/platform.h"
#include "services/console_output.h"
#include "services/file_channel.h"

std::string replace_all(const std::string& source, const std::string& find, const std::string& replacement)
{
    if (find.empty())
        return source;
    // One byte for one byte (the path separators) needs no rebuilding, and
    // inserted text cannot be searched again then either.
    if (find.size() == 1 && replacement.size() == 1) {
        std::string result = source;
        char* end = result.data() + result.size();
        for (char* at = result.data(); (at = static_cast<char*>(std::memchr(at, find[0], end - at))); ++at)
            *at = replacement[0];
        return result;
    }
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
    std::size_t cut = path.starts_with(root_dir) ? root_dir.size() : 0;
    // One buffer holds the relative path, then the line for the list file, so
    // an entry costs no temporaries beyond the entry itself.
    std::string text;
    text.reserve(path.size() - cut + name.size() + 2);
    text.append(path, cut).append(name);
    std::string entry = replace_all(text, std::string(1, platform::PATH_SEPARATOR), "/");
    // Every backslash byte becomes a slash, as where it is the separator: the
    // POSIX platform hands names out as Wine does, backslashes and all.
    if (platform::PATH_SEPARATOR != '\\')
        std::replace(entry.begin(), entry.end(), '\\', '/');
    print_line(entry);
    text.assign(entry).append("\r\n");
    return put_bytes(list_file_number, 0, text);
}
