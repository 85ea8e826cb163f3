// The least a POSIX program must do to walk the tree as the tool does: each
// folder read twice (files, then subfolders), a stat only where the entry's
// type does not say enough or a folder's write bits are needed, two
// unbuffered writes per echoed entry, the list through an 8 KiB stdio buffer.
// No name conversion and no sorting: those are the tool's own work.
// With --once, each folder is read once: its subfolders' names are noted
// during the file pass and walked after it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t PATH_CAPACITY = 4096;
constexpr std::size_t LIST_BUFFER_SIZE = 8192;

std::FILE* list_file = nullptr;

bool is_directory(int directory, const dirent& entry, struct stat* info)
{
    if (entry.d_type != DT_DIR && entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    return fstatat(directory, entry.d_name, info, 0) == 0 && S_ISDIR(info->st_mode);
}

// The file pass needs no stat where the entry's type is known.
bool is_file(int directory, const dirent& entry)
{
    if (entry.d_type == DT_DIR)
        return false;
    struct stat info;
    return entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN ? true : !is_directory(directory, entry, &info);
}

// `line` has room for the line end after its text.
void emit(char* line, std::size_t length)
{
    (void)!write(STDOUT_FILENO, line, length);
    (void)!write(STDOUT_FILENO, "\r\n", 2);
    std::memcpy(line + length, "\r\n", 2);
    std::fwrite(line, 1, length + 2, list_file);
}

// `path` holds the folder's path relative to the start folder ("" at the top)
// followed by a slash below the top; `length` is its length.
void walk(char* path, std::size_t length)
{
    const char* open_name = length == 0 ? "." : path;
    path[length] = '\0';

    if (DIR* folder = opendir(open_name)) {
        while (const dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' || std::strcmp(entry->d_name, "..") == 0))
                continue;
            if (length == 0 || !is_file(dirfd(folder), *entry))
                continue;
            std::size_t name_length = std::strlen(entry->d_name);
            if (length + name_length + 3 > PATH_CAPACITY)
                continue;
            std::memcpy(path + length, entry->d_name, name_length);
            emit(path, length + name_length);
        }
        closedir(folder);
    }

    path[length] = '\0';
    if (DIR* folder = opendir(open_name)) {
        struct stat info;
        while (const dirent* entry = readdir(folder)) {
            const char* name = entry->d_name;
            // Hidden (a leading dot, "." and ".." among them) and "Video" are not entered.
            if (name[0] == '.' || std::strcmp(name, "Video") == 0)
                continue;
            if (!is_directory(dirfd(folder), *entry, &info))
                continue;
            if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
                continue;
            std::size_t name_length = std::strlen(name);
            if (length + name_length + 3 > PATH_CAPACITY)
                continue;
            std::memcpy(path + length, name, name_length);
            path[length + name_length] = '/';
            path[length + name_length + 1] = '\0';
            walk(path, length + name_length + 1);
        }
        closedir(folder);
    }
}

// The same order in one read: files echoed as they come, subfolders noted
// (NUL-separated) and walked once the folder is closed.
void walk_once(char* path, std::size_t length)
{
    const char* open_name = length == 0 ? "." : path;
    path[length] = '\0';
    std::string subfolders;
    if (DIR* folder = opendir(open_name)) {
        struct stat info;
        while (const dirent* entry = readdir(folder)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || std::strcmp(name, "..") == 0))
                continue;
            std::size_t name_length = std::strlen(name);
            if (length + name_length + 3 > PATH_CAPACITY)
                continue;
            if (is_directory(dirfd(folder), *entry, &info)) {
                if (name[0] != '.' && std::strcmp(name, "Video") != 0
                    && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
                    subfolders.append(name, name_length + 1);
                continue;
            }
            if (length == 0)
                continue;
            std::memcpy(path + length, name, name_length);
            emit(path, length + name_length);
        }
        closedir(folder);
    }
    for (std::size_t at = 0; at < subfolders.size();) {
        const char* name = subfolders.data() + at;
        std::size_t name_length = std::strlen(name);
        at += name_length + 1;
        std::memcpy(path + length, name, name_length);
        path[length + name_length] = '/';
        path[length + name_length + 1] = '\0';
        walk_once(path, length + name_length + 1);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    list_file = std::fopen("NewOverridelist.txt", "wb");
    if (!list_file)
        return 2;
    std::setvbuf(list_file, nullptr, _IOFBF, LIST_BUFFER_SIZE);
    static char path[PATH_CAPACITY];
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0)
        walk_once(path, 0);
    else
        walk(path, 0);
    return std::fclose(list_file) == 0 ? 0 : 3;
}
