// Wildcard search over opendir/readdir, with the attribute words, names and
// order that Wine gives the same directory.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/names.h"
#include "platform/posix/order_key.h"

namespace platform {

namespace {

constexpr uint32_t A_RDONLY = 0x01;
constexpr uint32_t A_HIDDEN = 0x02;
constexpr uint32_t A_SUBDIR = 0x10;
constexpr uint32_t A_ARCH = 0x20;
constexpr uint32_t A_REPARSE_POINT = 0x400;

// Where one of an entry's strings lies in its search's text.
struct Span {
    uint32_t at;
    uint32_t size;
};

struct Entry {
    uint32_t attrib;
    Span native;  // as the file system holds it, for ties
    Span name;    // in the ANSI code page, as handed out
    Span key;     // compared byte for byte, see order_key()
};

// All strings of a search share one buffer: a directory costs a few
// allocations, not a few per entry.
struct Search {
    std::string text;
    std::vector<Entry> entries;
    std::size_t next = 0;

    std::string_view view(Span span) const { return std::string_view(text.data() + span.at, span.size); }

    Span append(std::string_view bytes)
    {
        Span span{ static_cast<uint32_t>(text.size()), static_cast<uint32_t>(bytes.size()) };
        text += bytes;
        return span;
    }
};

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

Span key_for(Search& search, Span native, bool ascii)
{
    std::string_view name = search.view(native);
    if (!ascii)
        return search.append(posix::order_key(name));
    if (std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        return native;
    // A copy of the text's own bytes: append them by position, which stays
    // valid when the text grows.
    Span key{ static_cast<uint32_t>(search.text.size()), native.size };
    search.text.append(search.text, native.at, native.size);
    for (char& c : std::span(search.text).subspan(key.at, key.size))
        c = upper(c);
    return key;
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
    for (std::string_view dots : { ".", ".." }) {
        if (matches(wildcard, dots)) {
            Span span = search.append(dots);
            search.entries.push_back(Entry{ A_SUBDIR, span, span, span });
        }
    }
    std::size_t first_sorted = search.entries.size();
    while (const dirent* entry = readdir(stream.get())) {
        std::string_view native = entry->d_name;
        if (native == "." || native == "..")
            continue;
        std::size_t mark = search.text.size();
        Entry item{ 0, search.append(native), {}, {} };
        bool ascii = posix::is_ascii(native);
        item.name = ascii ? item.native : search.append(converter.to_ansi(native));
        // A name longer than the record's field could not be handed out on
        // Windows either.
        bool listed = item.name.size < sizeof(FindData::name) && matches(wildcard, search.view(item.name))
            && attributes_of(dirfd(stream.get()), *entry, &item.attrib);
        if (!listed) {
            search.text.resize(mark);
            continue;
        }
        if (native.front() == '.')
            item.attrib |= A_HIDDEN;
        item.key = key_for(search, item.native, ascii);
        search.entries.push_back(item);
    }
    stream.reset();
    auto comes_before = [&search](const Entry& a, const Entry& b) {
        return posix::listed_before(
            search.view(a.key), search.view(a.native), search.view(b.key), search.view(b.native));
    };
    std::sort(search.entries.begin() + static_cast<std::ptrdiff_t>(first_sorted), search.entries.end(), comes_before);
    return true;
}

void fill(const Search& search, const Entry& entry, FindData* data)
{
    // The times and the size are not read by any caller.
    data->attrib = entry.attrib;
    data->time_create = data->time_access = data->time_write = 0;
    data->size = 0;
    std::string_view name = search.view(entry.name);
    std::memcpy(data->name, name.data(), name.size());
    data->name[name.size()] = '\0';
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
        fill(*search, search->entries[0], data);
        search->next = 1;
        return reinterpret_cast<SearchHandle>(search.release());
    } catch (const std::bad_alloc&) {
        return SEARCH_FAILED;
    }
}

int find_next(SearchHandle handle, FindData* data)
{
    Search* search = handle == SEARCH_FAILED ? nullptr : search_of(handle);
    if (!search || search->next >= search->entries.size())
        return -1;
    fill(*search, search->entries[search->next++], data);
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
