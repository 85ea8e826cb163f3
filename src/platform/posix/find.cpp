// Wildcard search over opendir/readdir, with the attribute words, names and
// order that Wine gives the same directory.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/list_file.h"
#include "platform/posix/names.h"
#include "platform/posix/order_key.h"
#include "platform/posix/posix_support.h"

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
    // The key's first eight bytes, big-endian and padded with zeros (a key
    // holds none), so that most comparisons are one of integers.
    uint64_t key_prefix;
};

// All strings of a search share one buffer: a directory costs a few
// allocations, not a few per entry.
struct Search {
    std::string pattern;  // as find_first was given it
    std::string text;
    std::vector<Entry> entries;
    std::size_t next = 0;
    bool second_pass = false;

    std::string_view view(Span span) const { return std::string_view(text.data() + span.at, span.size); }

    Span append(std::string_view bytes)
    {
        Span span{ static_cast<uint32_t>(text.size()), static_cast<uint32_t>(bytes.size()) };
        text += bytes;
        return span;
    }
};

// The first eight bytes of a key as one number, whose order is theirs: most
// comparisons end there.
uint64_t prefix_of(std::string_view key)
{
    uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i)
        prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0);
    return prefix;
}

Span key_for(Search& search, Span native, bool ascii)
{
    std::string_view name = search.view(native);
    if (!ascii)
        return search.append(posix::order_key(name, posix::names().file_system_charset()));
    if (std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        return native;
    // A copy of the text's own bytes: append them by position, which stays
    // valid when the text grows.
    Span key{ static_cast<uint32_t>(search.text.size()), native.size };
    search.text.append(search.text, native.at, native.size);
    for (char& c : std::span(search.text).subspan(key.at, key.size))
        c = posix::upper_ascii(c);
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
        } else if (p < pattern.size()
            && (pattern[p] == '?' || posix::upper_ascii(pattern[p]) == posix::upper_ascii(name[n]))) {
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

using DirPtr = std::unique_ptr<DIR, int (*)(DIR*)>;

// The first entry of a folder whose name is the given one (in UTF-8) but for
// case, as Wine compares them (UTF-16 units upper-cased, the entries' read as
// Wine reads names); empty when there is none.
std::string entry_like(const std::string& folder, std::string_view name)
{
    DirPtr stream(opendir(folder.c_str()), closedir);
    if (!stream)
        return {};
    posix::FileSystemCharset charset = posix::names().file_system_charset();
    std::string key = posix::order_key(name);
    while (const dirent* entry = readdir(stream.get())) {
        std::string_view candidate = entry->d_name;
        if (candidate != "." && candidate != ".." && posix::order_key(candidate, charset) == key)
            return std::string(candidate);
    }
    return {};
}

// Opens a folder as Wine finds it: by its exact path, or else part by part,
// each part that does not exist as it is by the first entry of its folder
// that differs from it only in case. Only a missing path costs the scan.
DirPtr open_folder(const std::string& path)
{
    DirPtr stream(opendir(path.c_str()), closedir);
    if (stream || errno != ENOENT)
        return stream;
    std::string found = path.starts_with('/') ? "/" : "";
    std::string_view rest = path;
    while (!rest.empty()) {
        std::string_view part = rest.substr(0, rest.find('/'));
        rest.remove_prefix(std::min(rest.size(), part.size() + 1));
        if (part.empty())
            continue;
        std::string exact = found + std::string(part);
        struct stat info;
        if (stat(exact.c_str(), &info) == 0) {
            found = exact + '/';
            continue;
        }
        std::string like = entry_like(found.empty() ? "." : found, part);
        if (like.empty())
            return DirPtr(nullptr, closedir);
        found += like + '/';
    }
    return DirPtr(opendir(found.c_str()), closedir);
}

// The folders whose listings lie on the path being walked, from the start
// folder down. A folder link back to one of them would have the walk go round
// until the path grows too long, and two such links in one folder double the
// paths at every level, so a folder that is already on its own path is not
// read again: its search fails, as that of a folder that cannot be searched.
// Only the device and inode can tell it, since the path through the link is
// new every time.
//
// The walk passes such a link over itself, where the entry carries the link
// bit; this catches the rest: bind mounts, and links on file systems that give
// no entry types, whose entries read as plain folders.
//
// The walk goes depth first: the folders above the one it reads next are
// those read before whose paths begin its path, and the others are dropped
// at each read. Those paths are prefixes of one another, so each folder keeps
// only the length of its path.
class WalkedPath {
public:
    // Whether `directory`, opened as `folder`, is none of the folders above
    // it; if so, it becomes the deepest. A folder whose identity cannot be
    // read is refused too, since it could be one of them.
    bool enter(std::string_view directory, int folder)
    {
        // A bare pattern searches the working folder, which no walk goes below.
        if (!directory.ends_with('/')) {
            folders_.clear();
            return true;
        }
        struct stat info;
        if (fstat(folder, &info) != 0)
            return false;
        auto common = static_cast<std::size_t>(
            std::mismatch(path_.begin(), path_.end(), directory.begin(), directory.end()).first - path_.begin());
        // The same folder read again (its second pass read afresh) is no
        // folder above itself.
        while (!folders_.empty() && (folders_.back().length > common || folders_.back().length == directory.size()))
            folders_.pop_back();
        for (const Folder& above : folders_) {
            if (above.device == info.st_dev && above.inode == info.st_ino)
                return false;
        }
        folders_.push_back(Folder{ info.st_dev, info.st_ino, directory.size() });
        path_.assign(directory);
        return true;
    }

private:
    struct Folder {
        dev_t device;
        ino_t inode;
        std::size_t length;  // of its path, which begins path_
    };
    std::string path_;  // the deepest folder's
    std::vector<Folder> folders_;
};

WalkedPath walked_path;

bool read_directory(const std::string& directory, std::string_view wildcard, Search& search)
{
    DirPtr stream = open_folder(directory);
    if (!stream || !walked_path.enter(directory, dirfd(stream.get())))
        return false;
    const posix::NameConverter& converter = posix::names();
    for (std::string_view dots : { ".", ".." }) {
        if (matches(wildcard, dots)) {
            Span span = search.append(dots);
            search.entries.push_back(Entry{ A_SUBDIR, span, span, span, 0 });
        }
    }
    std::size_t first_sorted = search.entries.size();
    // The list file that -o names is no mod file, even inside the tree.
    std::vector<std::string_view> list_entries = posix::list_entries_in(dirfd(stream.get()));
    while (const dirent* entry = readdir(stream.get())) {
        std::string_view native = entry->d_name;
        if (native == "." || native == ".." || std::ranges::find(list_entries, native) != list_entries.end())
            continue;
        std::size_t mark = search.text.size();
        Entry item{ 0, search.append(native), {}, {}, 0 };
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
        item.key_prefix = prefix_of(search.view(item.key));
        search.entries.push_back(item);
    }
    stream.reset();
    auto comes_before = [&search](const Entry& a, const Entry& b) {
        if (a.key_prefix != b.key_prefix)
            return a.key_prefix < b.key_prefix;
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

// Searches done with, kept with the capacity of their buffers for the folders
// that follow: the walk has one search open per level it stands in, and
// each would otherwise grow its buffers afresh.
class SparePool {
public:
    ~SparePool()
    {
        for (std::size_t i = 0; i < count_; ++i)
            delete items_[i];
    }
    Search* take() { return count_ > 0 ? items_[--count_] : nullptr; }
    void give(Search* search) noexcept
    {
        if (count_ == std::size(items_)) {
            delete search;
            return;
        }
        search->pattern.clear();
        search->text.clear();
        search->entries.clear();
        search->next = 0;
        search->second_pass = false;
        items_[count_++] = search;
    }

private:
    Search* items_[16] = {};
    std::size_t count_ = 0;
};

SparePool spare_searches;

struct ToSpares {
    void operator()(Search* search) const noexcept { spare_searches.give(search); }
};

using SearchPtr = std::unique_ptr<Search, ToSpares>;

SearchPtr new_search()
{
    Search* search = spare_searches.take();
    return SearchPtr(search ? search : new Search);
}

// The listing of a search that was read to its end, kept for the one search
// that may follow it on the same folder.
//
// The walk reads each folder twice, its files and then its subfolders, with
// the same pattern; the subfolder search is the very next call of this family
// after the file search has ended. Nothing the tool does in between touches
// the folder (it only echoes and writes its list file, which exists before the
// walk starts), so a second read would give the same listing. Any other first
// call drops the kept listing, and a listing serves two passes at most: a
// folder reached again later, or by another pattern, is read afresh.
SearchPtr kept;

SearchPtr take_kept(std::string_view pattern)
{
    SearchPtr search = std::move(kept);
    if (!search || search->pattern != pattern)
        return nullptr;
    search->next = 0;
    search->second_pass = true;
    return search;
}

// A pattern inside the start folder is searched in the folder itself: where
// the code page cannot hold a character of its path, the path as handed out
// names another folder or none, and Wine's search of it finds nothing. The
// result is the rest of the pattern, and the start folder's own path.
std::string_view within_start_folder(std::string_view pattern, std::string* folder)
{
    const posix::StartFolder& start = posix::start_folder();
    if (start.ansi.empty() || pattern.size() <= start.ansi.size() || !pattern.starts_with(start.ansi)
        || pattern[start.ansi.size()] != '/')
        return pattern;
    *folder = start.native + '/';
    return pattern.substr(start.ansi.size() + 1);
}

// Where the folder part of a pattern ends: after its last separator, '/' or,
// as under Wine, '\\'. The trail byte of a two-byte character is neither.
std::size_t folder_part_end(std::string_view pattern, const posix::NameConverter& converter)
{
    std::size_t end = 0;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        auto byte = static_cast<unsigned char>(pattern[at]);
        if (converter.is_lead_byte(byte))
            ++at;
        else if (byte == '/' || byte == '\\')
            end = at + 1;
    }
    return end;
}

// Wine takes a path with a control character or one of * ? " < > | in its
// folder part for an invalid name: such a folder is listed, never searched.
bool is_valid_folder_path(std::string_view path)
{
    return std::none_of(path.begin(), path.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || std::strchr("*?\"<>|", c) != nullptr; });
}

// The folder a pattern searches, as the file system names it, and the pattern's
// last part; false where Wine would search no folder.
bool split_pattern(std::string_view text, std::string* directory, std::string_view* wildcard)
{
    const posix::NameConverter& converter = posix::names();
    std::string_view pattern = within_start_folder(text, directory);
    std::size_t end = folder_part_end(pattern, converter);
    std::string below = converter.to_utf8(pattern.substr(0, end));
    std::replace(below.begin(), below.end(), '\\', '/');
    if (!is_valid_folder_path(below))
        return false;
    *directory += below;
    if (directory->empty())
        *directory = ".";
    *wildcard = pattern.substr(end);
    return true;
}

SearchPtr read_search(std::string_view text)
{
    std::string directory;
    std::string_view wildcard;
    if (!split_pattern(text, &directory, &wildcard))
        return nullptr;
    SearchPtr search = new_search();
    if (!read_directory(directory, wildcard, *search) || search->entries.empty())
        return nullptr;
    search->pattern = text;
    return search;
}

}  // namespace

SearchHandle find_first(const char* pattern, FindData* data)
{
    // The echo gathered so far is seen before a folder's read holds the walk up.
    posix::write_out_echo_if_due();
    try {
        std::string_view text = pattern;
        SearchPtr search = take_kept(text);
        if (!search)
            search = read_search(text);
        if (!search)
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
    SearchPtr search(search_of(handle));
    // A search closed before its end is not a whole pass.
    if (!search->second_pass && search->next >= search->entries.size())
        kept = std::move(search);
    return 0;
}

bool identify_folder(const char* path, FolderId* id)
{
    try {
        // The folder is found as a search in it finds it: a link that its
        // search would follow must not be refused, nor one passed over here
        // that the search would take round.
        std::string directory;
        std::string_view rest;
        struct stat info;
        if (!split_pattern(path, &directory, &rest) || !rest.empty())
            return false;
        DirPtr stream = open_folder(directory);
        if (!stream || fstat(dirfd(stream.get()), &info) != 0)
            return false;
        *id = FolderId{ info.st_dev, info.st_ino };
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace platform
