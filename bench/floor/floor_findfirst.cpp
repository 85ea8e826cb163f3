// The least a Windows program must do to walk the tree as the tool does:
// msvcrt's _findfirst/_findnext twice per folder (files, then subfolders),
// two unbuffered WriteFile calls per echoed entry, the list through msvcrt's
// stdio with an 8 KiB buffer.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

// msvcrt.dll's own exports, with the architecture's _finddata_t; the mingw
// headers map _findfirst to other exports.
extern "C" {
__declspec(dllimport) intptr_t __cdecl _findfirst(const char* pattern, void* data);
__declspec(dllimport) int __cdecl _findnext(intptr_t handle, void* data);
__declspec(dllimport) int __cdecl _findclose(intptr_t handle);
}

namespace {

// i686 msvcrt's times are 32-bit, x86_64's 64-bit (the name then sits at 36).
using FindTime = std::conditional_t<sizeof(void*) == 8, int64_t, int32_t>;

struct FindData {
    uint32_t attrib;
    FindTime time_create;
    FindTime time_access;
    FindTime time_write;
    uint32_t size;
    char name[260];
};
static_assert(offsetof(FindData, name) == (sizeof(void*) == 8 ? 36 : 20));

constexpr uint32_t A_SUBDIR = 0x10;
constexpr uint32_t NOT_ENTERED = 0x27;  // read-only, hidden, system, archive
constexpr std::size_t PATH_CAPACITY = 1024;
constexpr std::size_t LIST_BUFFER_SIZE = 8192;

std::FILE* list_file = nullptr;
HANDLE echo = nullptr;

void emit(char* line, std::size_t length)
{
    DWORD written = 0;
    WriteFile(echo, line, static_cast<DWORD>(length), &written, nullptr);
    WriteFile(echo, "\r\n", 2, &written, nullptr);
    std::memcpy(line + length, "\r\n", 2);
    std::fwrite(line, 1, length + 2, list_file);
}

// `pattern` holds the folder's path relative to the start folder with
// backslashes, `entry` the same with slashes; both end in a separator below
// the top, and `length` is their length.
void walk(char* pattern, char* entry, std::size_t length)
{
    FindData found;
    std::memcpy(pattern + length, "*.*", 4);
    intptr_t search = _findfirst(pattern, &found);
    if (search != -1) {
        do {
            if (length != 0 && !(found.attrib & A_SUBDIR)) {
                std::size_t name_length = std::strlen(found.name);
                if (length + name_length + 3 > PATH_CAPACITY)
                    continue;
                std::memcpy(entry + length, found.name, name_length);
                emit(entry, length + name_length);
            }
        } while (_findnext(search, &found) == 0);
        _findclose(search);
    }

    std::memcpy(pattern + length, "*.*", 4);
    search = _findfirst(pattern, &found);
    if (search == -1)
        return;
    do {
        if (!(found.attrib & A_SUBDIR) || (found.attrib & NOT_ENTERED))
            continue;
        const char* name = found.name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || std::strcmp(name, "Video") == 0)
            continue;
        std::size_t name_length = std::strlen(name);
        if (length + name_length + 5 > PATH_CAPACITY)
            continue;
        std::memcpy(pattern + length, name, name_length);
        std::memcpy(entry + length, name, name_length);
        pattern[length + name_length] = '\\';
        entry[length + name_length] = '/';
        walk(pattern, entry, length + name_length + 1);
    } while (_findnext(search, &found) == 0);
    _findclose(search);
}

}  // namespace

int main()
{
    echo = GetStdHandle(STD_OUTPUT_HANDLE);
    list_file = std::fopen("NewOverridelist.txt", "wb");
    if (!list_file)
        return 2;
    std::setvbuf(list_file, nullptr, _IOFBF, LIST_BUFFER_SIZE);
    static char pattern[PATH_CAPACITY];
    static char entry[PATH_CAPACITY];
    walk(pattern, entry, 0);
    return std::fclose(list_file) == 0 ? 0 : 3;
}
