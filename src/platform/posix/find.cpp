// Wildcard search over opendir/readdir, with the attribute words, names and
// order that Wine gives the same directory.
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/names.h"

namespace platform {

namespace {

constexpr uint32_t A_RDONLY = 0x01;
constexpr uint32_t A_HIDDEN = 0x02;
constexpr uint32_t A_SUBDIR = 0x10;
constexpr uint32_t A_ARCH = 0x20;
constexpr uint32_t A_REPARSE_POINT = 0x400;

struct Entry {
    std::string native;  // as the file system holds it, for ties
    std::string name;    // in the ANSI code page, as handed out
    uint32_t attrib;
    std::u16string order_key;  // the name in UTF-16, upper-cased
};

struct Search {
    std::vector<Entry> entries;
    std::size_t next = 0;
};

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Upper-casing beyond ASCII needs a UTF-8 locale; the program itself runs in
// the C locale.
locale_t case_locale()
{
    static const locale_t locale = [] {
        for (const char* name : { "C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8" }) {
            if (locale_t made = newlocale(LC_CTYPE_MASK, name, nullptr))
                return made;
        }
        return locale_t{};
    }();
    return locale;
}

char16_t upper_unit(char16_t unit)
{
    if (unit < 0x80)
        return static_cast<char16_t>(upper(static_cast<char>(unit)));
    locale_t locale = case_locale();
    if (!locale || (unit >= 0xD800 && unit <= 0xDFFF))
        return unit;
    return static_cast<char16_t>(towupper_l(unit, locale));
}

// Wine orders a directory by the names' UTF-16 units compared without regard
// to case (both sides upper-cased, accented letters included), so the key is
// built the same way. A byte that is no valid UTF-8 stands for U+FFFD.
std::u16string order_key(std::string_view utf8)
{
    std::u16string key;
    key.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        auto byte = static_cast<unsigned char>(utf8[at]);
        std::size_t length = byte < 0x80  ? 1
            : byte >= 0xF0 && byte < 0xF5 ? 4
            : byte >= 0xE0                ? 3
            : byte >= 0xC2                ? 2
                                          : 0;
        char32_t point = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length != 0 && at + length <= utf8.size();
        for (std::size_t i = 1; valid && i < length; ++i) {
            auto next = static_cast<unsigned char>(utf8[at + i]);
            valid = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        if (!valid) {
            key.push_back(u'\uFFFD');
            at += 1;
            continue;
        }
        at += length;
        if (point >= 0x10000) {
            point -= 0x10000;
            key.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            key.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            key.push_back(upper_unit(static_cast<char16_t>(point)));
        }
    }
    return key;
}

// Ties (names that differ only in case) go by the raw bytes.
bool comes_before(const Entry& a, const Entry& b)
{
    if (a.order_key != b.order_key)
        return a.order_key < b.order_key;
    return a.native < b.native;
}

// '*' takes any run, '?' exactly one byte (as in Wine 8.0), every other byte
// itself with ASCII case folded. "*.*" takes every name, dotless ones too.
bool matches(std::string_view pattern, std::string_view name)
{
    if (pattern == "*.*")
        return true;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t star_n = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_n = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++star_n;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool read_only(const struct stat& info)
{
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The attribute word of one entry, or false when it is not listed (a link
// that leads nowhere, an entry gone meanwhile). A regular file's read-only
// bit is not looked up: neither of the tool's searches tells a read-only file
// from another, and the look-up would cost a stat per file.
bool attributes_of(int directory, const dirent& entry, uint32_t* attrib)
{
    unsigned char type = entry.d_type;
    if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) {
        *attrib = A_ARCH;
        return true;
    }
    struct stat info;
    if (fstatat(directory, entry.d_name, &info, 0) != 0) {
        if (type != DT_DIR)
            return false;
        *attrib = A_SUBDIR;
        return true;
    }
    if (S_ISDIR(info.st_mode))
        *attrib = type == DT_LNK ? A_SUBDIR | A_REPARSE_POINT : A_SUBDIR;
    else
        *attrib = A_ARCH;
    if (read_only(info))
        *attrib |= A_RDONLY;
    return true;
}

bool read_directory(const std::string& directory, std::string_view wildcard, Search& search)
{
    std::unique_ptr<DIR, int (*)(DIR*)> stream(opendir(directory.c_str()), closedir);
    if (!stream)
        return false;
    const posix::NameConverter& converter = posix::names();
    for (const char* dots : { ".", ".." }) {
        if (matches(wildcard, dots))
            search.entries.push_back(Entry{ dots, dots, A_SUBDIR, {} });
    }
    std::size_t first_sorted = search.entries.size();
    while (const dirent* entry = readdir(stream.get())) {
        std::string_view native = entry->d_name;
        if (native == "." || native == "..")
            continue;
        Entry item{ std::string(native), converter.to_ansi(native), 0, {} };
        // A name longer than the record's field could not be handed out on
        // Windows either.
        if (item.name.size() >= sizeof(FindData::name) || !matches(wildcard, item.name))
            continue;
        if (!attributes_of(dirfd(stream.get()), *entry, &item.attrib))
            continue;
        if (native.front() == '.')
            item.attrib |= A_HIDDEN;
        item.order_key = order_key(native);
        search.entries.push_back(std::move(item));
    }
    stream.reset();
    std::sort(search.entries.begin() + static_cast<std::ptrdiff_t>(first_sorted), search.entries.end(), comes_before);
    return true;
}

void fill(const Entry& entry, FindData* data)
{
    // The times and the size are not read by any caller.
    *data = FindData{};
    data->attrib = entry.attrib;
    std::memcpy(data->name, entry.name.c_str(), entry.name.size() + 1);
}

Search* search_of(SearchHandle handle)
{
    return reinterpret_cast<Search*>(handle);
}

}  // namespace

SearchHandle find_first(const char* pattern, FindData* data)
{
    try {
        std::string_view text = pattern;
        std::size_t slash = text.rfind('/');
        std::string directory
            = slash == std::string_view::npos ? std::string(".") : posix::names().to_utf8(text.substr(0, slash + 1));
        std::string_view wildcard = slash == std::string_view::npos ? text : text.substr(slash + 1);

        auto search = std::make_unique<Search>();
        if (!read_directory(directory, wildcard, *search) || search->entries.empty())
            return SEARCH_FAILED;
        fill(search->entries[0], data);
        search->next = 1;
        return reinterpret_cast<SearchHandle>(search.release());
    } catch (const std::bad_alloc&) {
        return SEARCH_FAILED;
    }
}

int find_next(SearchHandle handle, FindData* data)
{
    Search* search = search_of(handle);
    if (!search || search->next >= search->entries.size())
        return -1;
    fill(search->entries[search->next++], data);
    return 0;
}

int find_close(SearchHandle handle)
{
    if (handle == SEARCH_FAILED || !search_of(handle))
        return -1;
    delete search_of(handle);
    return 0;
}

}  // namespace platform
