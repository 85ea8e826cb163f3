// The key by which Wine's order of a directory's names becomes a byte order.
#include "platform/posix/order_key.h"

#include <array>
#include <memory>
#include <span>

#include "platform/posix/names.h"
#include "platform/posix/table_runs.h"

namespace platform::posix {

namespace {

#include "platform/posix/case_data.inc"

constexpr std::size_t BLOCK = 256;

// Wine's table rather than the C library's, which changes with its Unicode
// version and is missing where no UTF-8 locale is; built a block of 256 units
// at a time, where a name first needs one.
std::array<std::unique_ptr<char16_t[]>, BLOCK> upper_blocks;

const char16_t* build_upper_block(unsigned high)
{
    auto block = std::make_unique<char16_t[]>(BLOCK);
    unsigned first = high * BLOCK;
    for (unsigned i = 0; i < BLOCK; ++i)
        block[i] = static_cast<char16_t>(first + i);
    expand_runs(std::span<const TableRun>(UPPER_CASE), nullptr, first, std::span(block.get(), BLOCK));
    upper_blocks[high] = std::move(block);
    return upper_blocks[high].get();
}

char16_t upper(char16_t unit)
{
    if (unit < 0x80)
        return static_cast<char16_t>(upper_ascii(static_cast<char>(unit)));
    const char16_t* block = upper_blocks[unit / BLOCK].get();
    if (!block)
        block = build_upper_block(unit / BLOCK);
    return block[unit % BLOCK];
}

// One UTF-16 unit in the form of UTF-8 (surrogates too, each on its own),
// whose byte order is the order of the units.
void append_unit(std::string& key, char16_t unit)
{
    append_utf8(key, unit);
}

}  // namespace

char16_t upper_unit(char16_t unit)
{
    return upper(unit);
}

std::string order_key(std::string_view name, FileSystemCharset charset)
{
    std::string key;
    key.reserve(name.size() + name.size() / 2);
    for (std::size_t at = 0; at < name.size();) {
        char32_t point;
        at += read_name_character(name.substr(at), charset, &point);
        if (point >= 0x10000) {
            point -= 0x10000;
            append_unit(key, static_cast<char16_t>(0xD800 + (point >> 10)));
            append_unit(key, static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            append_unit(key, upper(static_cast<char16_t>(point)));
        }
    }
    return key;
}

}  // namespace platform::posix
