// List entries: the file's path relative to the start directory, forward slashes.
#include "app/list_entry.h"

#include "app/main_sequence.h"
#include "platform/platform.h"
#include "services/console_output.h"
#include "services/file_channel.h"

std::size_t char_length(std::string_view text, std::size_t at)
{
    auto byte = static_cast<uint8_t>(text[at]);
    // Lead bytes are never ASCII: most names need no question to the platform.
    return byte >= 0x80 && at + 1 < text.size() && platform::is_lead_byte(byte) ? 2 : 1;
}

std::string replace_all(const std::string& source, const std::string& find, const std::string& replacement)
{
    if (find.empty())
        return source;
    std::string result;
    result.reserve(source.size());
    std::size_t from = 0;
    for (std::size_t at = 0; at < source.size();) {
        if (source[at] == find[0] && source.compare(at, find.size(), find) == 0) {
            result.append(source, from, at - from);
            result += replacement;
            at += find.size();
            from = at;
        } else {
            at += char_length(source, at);
        }
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
    // A backslash is the separator of the paths the walk builds on Windows; on
    // other platforms one inside a name is listed as the exe lists it there.
    std::string entry = replace_all(text, "\\", "/");
    print_line(entry);
    text.assign(entry).append("\r\n");
    return put_bytes(list_file_number, 0, text);
}
