// Output file channel over the runtime library's buffered streams.
#include "services/file_channel.h"

#include <cctype>

#include "platform/platform.h"

namespace {

struct FileChannel {
    int32_t mode;
    int32_t access;
    int32_t lock;  // recorded only; no lock is ever taken
    int32_t encoding;
    platform::Stream* stream;  // non-null while the channel is open
};

constexpr std::size_t STREAM_BUFFER_SIZE = 8192;

FileChannel channels[MAX_FILE_NUMBER];
bool close_registered = false;

FileChannel* channel_for(int32_t file_number)
{
    if (file_number < 1 || file_number > MAX_FILE_NUMBER)
        return nullptr;
    return &channels[file_number - 1];
}

bool starts_with_utf(std::string_view keyword)
{
    if (keyword.size() < 3)
        return false;
    auto upper = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
    return upper(keyword[0]) == 'U' && upper(keyword[1]) == 'T' && upper(keyword[2]) == 'F';
}

// Writes out and closes one open stream. fclose alone is not enough: some
// runtimes return success from a close whose final write-out failed.
int32_t close_stream(FileChannel& channel)
{
    bool failed = platform::stream_flush(channel.stream) != 0;
    failed = platform::stream_error(channel.stream) || failed;
    failed = platform::stream_close(channel.stream) != 0 || failed;
    channel = FileChannel{};
    return failed ? FILE_ERR_IO : FILE_OK;
}

int32_t close_every_channel()
{
    int32_t result = FILE_OK;
    for (FileChannel& channel : channels) {
        if (channel.stream) {
            int32_t error = close_stream(channel);
            if (result == FILE_OK)
                result = error;
        }
    }
    return result;
}

}  // namespace

Encoding parse_encoding_keyword(std::optional<std::string_view> keyword)
{
    if (!keyword || !starts_with_utf(*keyword))
        return ENCODING_PLAIN;
    std::string_view rest = keyword->substr(3);
    if (!rest.empty() && rest.front() == '-')
        rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '8')
        return ENCODING_UTF8;
    if (rest == "16")
        return ENCODING_UTF16;
    if (rest == "32")
        return ENCODING_UTF32;
    return ENCODING_PLAIN;
}

int32_t find_free_file_number()
{
    for (int32_t n = 1; n <= MAX_FILE_NUMBER; ++n) {
        if (!channels[n - 1].stream)
            return n;
    }
    return 0;
}

int32_t open_channel(const std::string& name, int32_t mode, int32_t access, int32_t lock, int32_t file_number,
    int32_t /*record_length*/, std::optional<std::string_view> keyword)
{
    Encoding encoding = parse_encoding_keyword(keyword);
    if (!close_registered) {
        close_registered = true;
        platform::at_exit(close_all_channels);  // a failed registration is not reported
    }

    FileChannel* channel = channel_for(file_number);
    if (!channel || channel->stream)
        return FILE_ERR_INVALID;
    // Only plain output is built (the tool opens nothing else); the other
    // modes and the encoded channels are refused as not fitting the channel.
    if (mode != MODE_OUTPUT || encoding != ENCODING_PLAIN)
        return FILE_ERR_INVALID;

    *channel = FileChannel{ mode, access, lock, encoding, nullptr };
    std::string path = name;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    channel->stream = platform::stream_open(path.c_str(), "wb");
    if (!channel->stream) {
        *channel = FileChannel{};
        return FILE_ERR_OPEN;
    }
    platform::stream_set_buffer(channel->stream, platform::STREAM_FULL_BUFFERING, STREAM_BUFFER_SIZE);
    if (channel->access == 0)
        channel->access = 3;
    return FILE_OK;
}

int32_t put_bytes(int32_t file_number, int32_t position, std::string_view text)
{
    if (text.empty())
        return FILE_OK;
    FileChannel* channel = channel_for(file_number);
    // An output file is only ever appended to, so the only position that fits
    // is 0, the current one.
    if (!channel || !channel->stream || position != 0)
        return FILE_ERR_INVALID;
    std::size_t taken = platform::stream_write(text.data(), text.size(), channel->stream);
    return taken < text.size() ? FILE_ERR_IO : FILE_OK;
}

int32_t close_channel(int32_t file_number)
{
    if (file_number == 0)
        return close_every_channel();
    FileChannel* channel = channel_for(file_number);
    if (!channel || !channel->stream)
        return FILE_ERR_INVALID;
    return close_stream(*channel);
}

void close_all_channels()
{
    (void)close_every_channel();
}

void init_file_channels()
{
    for (FileChannel& channel : channels)
        channel = FileChannel{};
    close_registered = false;
}
