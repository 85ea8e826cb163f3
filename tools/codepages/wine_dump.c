/* Asks Wine how it converts names between UTF-16 and the process's ANSI code
 * page, and which code page a locale gets. Built with mingw-w64 and run under
 * Wine by tools/codepages/regenerate.py; not part of the product.
 *
 *   wine_dump acp              the ANSI and OEM code pages of this process
 *   wine_dump locales          every locale Wine knows: ANSI code page, LCID
 *   wine_dump resolve NAME...  the locale that each name reaches, likewise
 *   wine_dump dump FILE        the ANSI code page's conversions, both ways
 *   wine_dump upcase FILE      every UTF-16 unit that RtlUpcaseUnicodeChar changes
 *   wine_dump list PATTERN     what _findfirst/_findnext hand out, in hex
 *   wine_dump cwd              what GetCurrentDirectoryA hands out, in hex
 *
 * The dump takes the conversions through the very calls that the A file
 * functions make (RtlUnicodeToMultiByteN out, RtlMultiByteToUnicodeN in), and
 * notes every unit where WideCharToMultiByte or MultiByteToWideChar without
 * flags would answer otherwise ("api-w" and "api-m" lines).
 */
#define _WIN32_WINNT 0x0600
#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <string.h>

typedef LONG(WINAPI* ToNarrow)(char*, ULONG, ULONG*, const WCHAR*, ULONG);
typedef LONG(WINAPI* ToWide)(WCHAR*, ULONG, ULONG*, const char*, ULONG);
typedef WCHAR(WINAPI* ToUpper)(WCHAR);

static ToNarrow to_multibyte;
static ToWide to_unicode;
static ToUpper to_upper;

static void print_hex(FILE* out, const unsigned char* bytes, unsigned count)
{
    unsigned i;
    for (i = 0; i < count; ++i)
        fprintf(out, "%02x", bytes[i]);
}

/* One UTF-16 unit out, as the file functions convert it; the count of bytes. */
static unsigned unit_out(WCHAR unit, unsigned char* bytes)
{
    ULONG written = 0;
    to_multibyte((char*)bytes, 4, &written, &unit, sizeof unit);
    return (unsigned)written;
}

/* Bytes in, as the file functions convert them; the count of units. */
static unsigned bytes_in(const unsigned char* bytes, unsigned count, WCHAR* units)
{
    ULONG written = 0;
    to_unicode(units, 4 * sizeof(WCHAR), &written, (const char*)bytes, count);
    return (unsigned)(written / sizeof(WCHAR));
}

static void print_units(FILE* out, const WCHAR* units, unsigned count)
{
    unsigned i;
    for (i = 0; i < count; ++i)
        fprintf(out, "%s%04x", i ? "," : "", units[i]);
}

static void dump_in(FILE* out, const unsigned char* bytes, unsigned count)
{
    WCHAR units[4];
    WCHAR by_api[4];
    unsigned n = bytes_in(bytes, count, units);
    int api = MultiByteToWideChar(CP_ACP, 0, (const char*)bytes, (int)count, by_api, 4);
    fprintf(out, "m ");
    print_hex(out, bytes, count);
    fprintf(out, " ");
    print_units(out, units, n);
    fprintf(out, "\n");
    if (api != (int)n || memcmp(units, by_api, n * sizeof(WCHAR)) != 0) {
        fprintf(out, "api-m ");
        print_hex(out, bytes, count);
        fprintf(out, " ");
        print_units(out, by_api, api > 0 ? (unsigned)api : 0);
        fprintf(out, "\n");
    }
}

static int dump(const char* path)
{
    CPINFOEXA info;
    FILE* out = fopen(path, "wb");
    unsigned lead;
    unsigned i;
    if (!out || !GetCPInfoExA(CP_ACP, 0, &info)) {
        fprintf(stderr, "cannot open %s or read the code page\n", path);
        return 1;
    }
    fprintf(out, "codepage %u\nmaxchar %u\ndefault ", GetACP(), info.MaxCharSize);
    print_hex(out, info.DefaultChar, info.DefaultChar[1] ? 2 : 1);
    fprintf(out, "\nunidefault %04x\nlead", info.UnicodeDefaultChar);
    for (i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
        fprintf(out, " %02x-%02x", info.LeadByte[i], info.LeadByte[i + 1]);
    fprintf(out, "\n");

    for (i = 0; i < 0x10000; ++i) {
        unsigned char bytes[4];
        unsigned char by_api[8];
        WCHAR unit = (WCHAR)i;
        unsigned n = unit_out(unit, bytes);
        int api = WideCharToMultiByte(CP_ACP, 0, &unit, 1, (char*)by_api, sizeof by_api, NULL, NULL);
        fprintf(out, "w %04x ", i);
        print_hex(out, bytes, n);
        fprintf(out, "\n");
        if (api != (int)n || memcmp(bytes, by_api, n) != 0) {
            fprintf(out, "api-w %04x ", i);
            print_hex(out, by_api, api > 0 ? (unsigned)api : 0);
            fprintf(out, "\n");
        }
    }
    for (i = 1; i < 0x100; ++i) {
        unsigned char byte = (unsigned char)i;
        dump_in(out, &byte, 1);
    }
    for (lead = 0x80; lead < 0x100; ++lead) {
        if (!IsDBCSLeadByte((BYTE)lead))
            continue;
        for (i = 1; i < 0x100; ++i) {
            unsigned char pair[2] = { (unsigned char)lead, (unsigned char)i };
            dump_in(out, pair, 2);
        }
    }
    return fclose(out) == 0 ? 0 : 1;
}

/* The case table by which Wine compares names without regard to case (its
 * directory order and its case-blind lookup of a path). */
static int upcase(const char* path)
{
    FILE* out = fopen(path, "wb");
    unsigned i;
    if (!out) {
        fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    for (i = 0; i < 0x10000; ++i) {
        WCHAR upper = to_upper((WCHAR)i);
        if (upper != i)
            fprintf(out, "u %04x %04x\n", i, upper);
    }
    return fclose(out) == 0 ? 0 : 1;
}

static int list(const char* pattern)
{
    struct _finddata_t data;
    intptr_t handle = _findfirst(pattern, &data);
    if (handle == -1) {
        printf("none\n");
        return 0;
    }
    do {
        printf("%02x ", (unsigned)data.attrib);
        print_hex(stdout, (const unsigned char*)data.name, (unsigned)strlen(data.name));
        printf("\n");
    } while (_findnext(handle, &data) == 0);
    _findclose(handle);
    return 0;
}

static int current_directory(void)
{
    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    print_hex(stdout, (const unsigned char*)buffer, length < sizeof buffer ? length : 0);
    printf("\n");
    return 0;
}

static BOOL CALLBACK print_locale(LPWSTR name, DWORD flags, LPARAM unused)
{
    WCHAR code_page[16];
    (void)flags;
    (void)unused;
    if (!GetLocaleInfoEx(name, LOCALE_IDEFAULTANSICODEPAGE, code_page, 16))
        code_page[0] = 0;
    printf("%ls %ls %04lx\n", name, code_page, (unsigned long)LocaleNameToLCID(name, 0));
    return TRUE;
}

static void resolve(const char* name)
{
    WCHAR wide[LOCALE_NAME_MAX_LENGTH];
    WCHAR canonical[LOCALE_NAME_MAX_LENGTH];
    printf("%s ", name);
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, wide, LOCALE_NAME_MAX_LENGTH)
        || !GetLocaleInfoEx(wide, LOCALE_SNAME, canonical, LOCALE_NAME_MAX_LENGTH)) {
        printf("none\n");
        return;
    }
    print_locale(canonical, 0, 0);
}

int main(int argc, char** argv)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    to_multibyte = (ToNarrow)(void*)GetProcAddress(ntdll, "RtlUnicodeToMultiByteN");
    to_unicode = (ToWide)(void*)GetProcAddress(ntdll, "RtlMultiByteToUnicodeN");
    to_upper = (ToUpper)(void*)GetProcAddress(ntdll, "RtlUpcaseUnicodeChar");
    if (argc == 2 && strcmp(argv[1], "acp") == 0) {
        printf("%u %u\n", GetACP(), GetOEMCP());
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "locales") == 0)
        return EnumSystemLocalesEx(print_locale, LOCALE_ALL, 0, NULL) ? 0 : 1;
    if (argc >= 2 && strcmp(argv[1], "resolve") == 0) {
        int i;
        for (i = 2; i < argc; ++i)
            resolve(argv[i]);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "cwd") == 0)
        return current_directory();
    if (argc == 3 && strcmp(argv[1], "list") == 0)
        return list(argv[2]);
    if (argc == 3 && strcmp(argv[1], "dump") == 0 && to_multibyte && to_unicode)
        return dump(argv[2]);
    if (argc == 3 && strcmp(argv[1], "upcase") == 0 && to_upper)
        return upcase(argv[2]);
    fprintf(stderr, "usage: wine_dump acp | locales | resolve NAME... | cwd | list PATTERN | dump FILE | upcase FILE\n");
    return 2;
}
