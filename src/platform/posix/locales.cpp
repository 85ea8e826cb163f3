// Which locales the machine has, as glibc finds them: the names in its locale
// archive, its alias file and its locale folders. The archive's header and
// table of names have kept one layout since glibc 2.3 (its magic number says
// so); the folders' names and glibc's way of trying them are its documented
// behaviour. Of a locale's data only the name of its codeset is read, where
// glibc checks it; the program's own C library, which may be another version
// than the machine's, never loads any. Other C libraries, which the program is
// only ever linked with dynamically, are asked.
#include "platform/posix/locales.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <sys/auxv.h>
#else
#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale
#endif
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform::posix {

namespace {

// glibc's own paths, compiled into it: the archive and folders under
// $(exec_prefix)/lib/locale, the aliases under $(datadir)/locale.
constexpr const char* ARCHIVE = "/usr/lib/locale/locale-archive";
constexpr const char* FOLDER = "/usr/lib/locale";
constexpr const char* ALIASES = "/usr/share/locale/locale.alias";

constexpr uint32_t ARCHIVE_MAGIC = 0xde020109;
// The codeset's place among the items of a locale's LC_CTYPE data.
constexpr std::size_t CODESET_ITEM = 14;
// Past this a name is no locale's: glibc refuses longer ones.
constexpr std::size_t LONGEST_NAME = 255;

bool is_ascii_alpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_ascii_digit(char c)
{
    return c >= '0' && c <= '9';
}

char lower_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string normal_codeset(std::string_view codeset)
{
    std::string normal;
    for (char c : codeset) {
        if (is_ascii_alpha(c) || is_ascii_digit(c))
            normal += lower_ascii(c);
    }
    if (std::all_of(normal.begin(), normal.end(), is_ascii_digit))
        normal.insert(0, "iso");
    return normal;
}

namespace {

// The name as the archive holds it: its codeset, if it has one, in the normal form.
std::string archive_name(std::string_view name)
{
    std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot + 1 == name.size() || name[dot + 1] == '@')
        return std::string(name);
    std::size_t at = std::min(name.find('@', dot), name.size());
    return std::string(name.substr(0, dot + 1)) + normal_codeset(name.substr(dot + 1, at - dot - 1))
        + std::string(name.substr(at));
}

// What glibc refuses as a locale name before it looks: too long, or a path
// that leads elsewhere (a relative one, or one through "..").
bool valid_name(std::string_view name)
{
    if (name.size() > LONGEST_NAME || name == ".." || name.find("/../") != std::string_view::npos
        || name.starts_with("../") || name.ends_with("/.."))
        return false;
    return name.find('/') == std::string_view::npos || name.starts_with('/');
}

bool read_at(int fd, void* into, std::size_t size, off_t offset)
{
    auto* bytes = static_cast<char*>(into);
    while (size > 0) {
        ssize_t got = pread(fd, bytes, size, offset);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// Whether the archive names the locale: its table of names, each an offset
// into its string table. An archive that cannot be read, or that has another
// layout, names none.
bool archive_has(const std::string& path, const std::string& name)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // magic, serial, then offset, used and size of the name table, then of the string table.
    std::array<uint32_t, 8> head{};
    bool found = false;
    // Bounds that no archive comes near, against a damaged one.
    if (read_at(fd, head.data(), sizeof head, 0) && head[0] == ARCHIVE_MAGIC && head[4] < (1u << 20)
        && head[6] < (1u << 24)) {
        // Each entry: hash, name offset, record offset.
        std::vector<uint32_t> table(std::size_t{ head[4] } * 3);
        std::string strings(head[6], '\0');
        if (read_at(fd, table.data(), table.size() * sizeof(uint32_t), head[2])
            && read_at(fd, strings.data(), strings.size(), head[5])) {
            for (std::size_t entry = 0; entry < head[4] && !found; ++entry) {
                uint32_t offset = table[entry * 3 + 1];
                if (table[entry * 3 + 2] == 0 || offset < head[5] || offset - head[5] >= strings.size())
                    continue;
                found = std::strcmp(strings.c_str() + (offset - head[5]), name.c_str()) == 0;
            }
        }
    }
    close(fd);
    return found;
}

// The whole of a small file; empty where it cannot be read.
std::string read_file(const std::string& path)
{
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return text;
}

// What the alias file makes of the name ("polish" is "pl_PL.ISO-8859-2"):
// lines of an alias and its value, the alias found without regard to case.
std::optional<std::string> expand_alias(const std::string& path, std::string_view name)
{
    std::string text = read_file(path);
    std::string_view rest = text;
    auto same = [](char a, char b) { return lower_ascii(a) == lower_ascii(b); };
    constexpr std::string_view BLANKS = " \t\r";
    while (!rest.empty()) {
        std::string_view line = rest.substr(0, std::min(rest.find('\n'), rest.size()));
        rest.remove_prefix(std::min(line.size() + 1, rest.size()));
        line.remove_prefix(std::min(line.find_first_not_of(BLANKS), line.size()));
        std::string_view alias = line.substr(0, std::min(line.find_first_of(BLANKS), line.size()));
        line.remove_prefix(alias.size());
        line.remove_prefix(std::min(line.find_first_not_of(BLANKS), line.size()));
        std::string_view value = line.substr(0, std::min(line.find_first_of(BLANKS), line.size()));
        if (!alias.starts_with('#') && !value.empty()
            && std::equal(alias.begin(), alias.end(), name.begin(), name.end(), same))
            return std::string(value);
    }
    return std::nullopt;
}

// The codeset that a locale's LC_CTYPE file names, as nl_langinfo(CODESET)
// would give it; empty where the file cannot be read so. The file begins with
// a magic number, the count of its items and each item's offset; the codeset
// is item 14, a number that every program built against glibc holds (it is
// CODESET's), so it never moves. The one name read, none of the data.
std::string folder_codeset(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // The magic number, the count of items, and the offsets up to the codeset's.
    uint32_t head[2 + CODESET_ITEM + 1] = {};
    std::string codeset(64, '\0');
    bool read = read_at(fd, head, sizeof head, 0) && head[1] > CODESET_ITEM
        && read_at(fd, codeset.data(), codeset.size() - 1, head[2 + CODESET_ITEM]);
    close(fd);
    if (!read)
        return {};
    codeset.resize(std::strlen(codeset.c_str()));
    return codeset;
}

// Whether the folders hold the locale as glibc looks it up there: it tries
// the name as it is, with its codeset in the normal form, and then without
// its codeset, territory or modifier, the most specific first, each in every
// folder; it takes the first locale it finds, but only if that is in the
// codeset the name asks for.
bool folders_have(const std::vector<std::string>& folders, std::string_view name)
{
    std::size_t language_end = std::min(name.find_first_of("_.@"), name.size());
    std::string_view language = name.substr(0, language_end);
    std::string_view rest = name.substr(language_end);
    std::string_view territory;
    std::string_view codeset;
    std::string_view modifier;
    if (!language.empty()) {
        if (rest.starts_with('_')) {
            territory = rest.substr(0, std::min(rest.find_first_of(".@"), rest.size()));
            rest.remove_prefix(territory.size());
        }
        if (rest.starts_with('.')) {
            codeset = rest.substr(0, std::min(rest.find('@'), rest.size()));
            rest.remove_prefix(codeset.size());
        }
        modifier = rest;
    } else {
        language = name;
    }
    // A part that is its separator alone ("pl_PL.") counts as none; but a
    // codeset asked for, even an empty one, must be the locale's.
    bool asks_codeset = !codeset.empty();
    for (std::string_view* part : { &territory, &codeset, &modifier }) {
        if (part->size() == 1)
            *part = {};
    }
    std::string normal = codeset.empty() ? "" : "." + normal_codeset(codeset.substr(1));
    for (std::string_view with_modifier : { modifier, std::string_view() }) {
        for (std::string_view with_territory : { territory, std::string_view() }) {
            for (std::string_view with_codeset : { codeset, std::string_view(normal), std::string_view() }) {
                std::string candidate = std::string(language) + std::string(with_territory) + std::string(with_codeset)
                    + std::string(with_modifier) + "/LC_CTYPE";
                for (const std::string& folder : folders) {
                    std::string path = folder;
                    path.append("/").append(candidate);
                    struct stat info { };
                    if (stat(path.c_str(), &info) != 0)
                        continue;
                    if (!asks_codeset)
                        return true;
                    // A file whose codeset cannot be read is taken at its name.
                    std::string found = folder_codeset(path);
                    return found.empty() || (!normal.empty() && "." + normal_codeset(found) == normal);
                }
            }
        }
    }
    return false;
}

}  // namespace

LocaleFiles host_locale_files()
{
    LocaleFiles files{ ARCHIVE, {}, ALIASES };
    // glibc searches LOCPATH's folders before its own, and then not its
    // archive, unless the program runs with privileges it did not start with.
    const char* path = std::getenv("LOCPATH");
#ifdef __GLIBC__
    bool secure = getauxval(AT_SECURE) != 0;
#else
    bool secure = true;
#endif
    if (path && *path && !secure) {
        files.archive.clear();
        std::string_view rest = path;
        while (!rest.empty()) {
            std::size_t colon = std::min(rest.find(':'), rest.size());
            if (colon > 0)
                files.folders.emplace_back(rest.substr(0, colon));
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
    }
    files.folders.emplace_back(FOLDER);
    return files;
}

bool locale_exists(std::string_view name, const LocaleFiles& files)
{
    if (name == "C" || name == "POSIX")
        return true;
    if (name.empty() || !valid_name(name))
        return false;
#ifndef __GLIBC__
    if (locale_t made = newlocale(LC_CTYPE_MASK, std::string(name).c_str(), locale_t{})) {
        freelocale(made);
        return true;
    }
    return false;
#endif
    std::optional<std::string> alias = expand_alias(files.aliases, name);
    if (!files.archive.empty()
        && (archive_has(files.archive, archive_name(name))
            || (alias && archive_has(files.archive, archive_name(*alias)))))
        return true;
    return folders_have(files.folders, alias ? std::string_view(*alias) : name);
}

std::string_view environment_ctype_locale()
{
    for (const char* variable : { "LC_ALL", "LC_CTYPE", "LANG" }) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return {};
}

}  // namespace platform::posix
