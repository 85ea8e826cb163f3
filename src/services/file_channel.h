// Output file channel: numbered disk files written through buffered streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr int32_t MAX_FILE_NUMBER = 254;

inline constexpr int32_t MODE_OUTPUT = 3;
inline constexpr int32_t ACCESS_WRITE = 2;

inline constexpr int32_t FILE_OK = 0;
inline constexpr int32_t FILE_ERR_INVALID = 1;
inline constexpr int32_t FILE_ERR_OPEN = 2;
inline constexpr int32_t FILE_ERR_IO = 3;

enum Encoding : int32_t {
    ENCODING_PLAIN = 0,
    ENCODING_UTF8 = 1,
    ENCODING_UTF16 = 2,
    ENCODING_UTF32 = 3,
};

Encoding parse_encoding_keyword(std::optional<std::string_view> keyword);

// The lowest free file number, or 0 when all are in use. Reserves nothing.
int32_t find_free_file_number();

[[nodiscard]] int32_t open_channel(const std::string& name, int32_t mode, int32_t access, int32_t lock,
    int32_t file_number, int32_t record_length, std::optional<std::string_view> keyword);

// Writes the text at the current position (position 0); nothing is added.
[[nodiscard]] int32_t put_bytes(int32_t file_number, int32_t position, std::string_view text);

// Closes one channel, or every channel for 0. A buffered write-out that fails
// is reported as FILE_ERR_IO, so that a truncated file never passes as written.
[[nodiscard]] int32_t close_channel(int32_t file_number);

// The at-exit entry: closes whatever is still open.
void close_all_channels();

// Every channel free, and the at-exit entry not yet registered.
void init_file_channels();
