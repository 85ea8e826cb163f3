// The platform seam: every operating-system and runtime-library call that the
// services and the process frame make, in portable types. The build links one
// implementation: win32/ for the real program, the simulated platform for the
// unit tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---- Process and files -----------------------------------------------------

// The character that ends a directory in a path.
extern const char PATH_SEPARATOR;

// IsDBCSLeadByte: whether the byte leads a double-byte character of the ANSI
// code page; never in a single-byte code page.
bool is_lead_byte(uint8_t byte);

// GetCurrentDirectoryA: the length copied (without the NUL), the size needed
// (with the NUL) when the buffer is too small, or 0 on failure.
uint32_t get_current_directory(uint32_t buffer_size, char* buffer);

// Registers a function with the runtime library's at-exit list; 0 on success.
int at_exit(void (*function)());

// The runtime library's exit: runs the at-exit list, writes out and closes
// the runtime's streams and ends the process with the status.
[[noreturn]] void exit_process(int32_t status);

// ---- How the run goes -------------------------------------------------------

// What the main sequence does otherwise than in the plain run, which the
// defaults describe. Only the native program's options change them.
struct RunSettings {
    // The key prompt and the two key waits; without them the run goes
    // straight from the banner to the end.
    bool key_waits = true;
    // The list file's full name, in the ANSI code page, where the list goes
    // to a file of the user's choosing instead of NewOverridelist.txt in the
    // start folder: the report then names it and asks for no renaming. The
    // list file is still opened by its usual name; the platform writes it
    // where this says.
    const char* list_file = nullptr;
};

const RunSettings& run_settings();

// ---- Wildcard search (the runtime library's _findfirst family) -------------

// The runtime library's _finddata_t, field for field.
struct FindData {
    uint32_t attrib;
    int32_t time_create;
    int32_t time_access;
    int32_t time_write;
    uint32_t size;
    char name[260];
};

using SearchHandle = intptr_t;
inline constexpr SearchHandle SEARCH_FAILED = -1;

SearchHandle find_first(const char* pattern, FindData* data);
int find_next(SearchHandle handle, FindData* data);  // 0 while entries remain
int find_close(SearchHandle handle);

// ---- Folder identity (CreateFileA, GetFileInformationByHandle, CloseHandle) -

// What tells a folder from every other, whatever path leads to it: its
// volume's serial number and its index there.
struct FolderId {
    uint64_t volume;
    uint64_t index;
    bool operator==(const FolderId&) const = default;
};

// The identity of the folder that a path ending in the separator names, as a
// search of a pattern in it would reach it, links followed; false where it
// cannot be opened or read.
bool identify_folder(const char* path, FolderId* id);

// ---- Buffered streams (the runtime library's stdio) ------------------------

struct Stream;  // opaque: a FILE of the runtime library

inline constexpr int STREAM_FULL_BUFFERING = 0;

Stream* stream_open(const char* name, const char* mode);  // null on failure
int stream_set_buffer(Stream* stream, int buffering, std::size_t size);
std::size_t stream_write(const void* bytes, std::size_t count, Stream* stream);
int stream_flush(Stream* stream);  // 0 on success
bool stream_error(Stream* stream);
int stream_close(Stream* stream);  // 0 on success

// ---- Standard handles and console modes ------------------------------------

using Handle = void*;

inline constexpr int32_t STD_INPUT = -10;
inline constexpr int32_t STD_OUTPUT = -11;

Handle get_std_handle(int32_t which);
bool get_console_mode(Handle handle, uint32_t* mode);
bool set_console_mode(Handle handle, uint32_t mode);

// WriteFile: false on failure; *written is the count the handle took.
bool write_file(Handle handle, const void* bytes, uint32_t count, uint32_t* written);

// ---- Console screen buffer ---------------------------------------------------

struct Coord {
    int16_t x;
    int16_t y;
};

struct Rect {
    int16_t left;
    int16_t top;
    int16_t right;
    int16_t bottom;
};

struct ScreenBufferInfo {
    Coord size;
    Coord cursor;
    uint16_t attributes;
    Rect window;
    Coord maximum_window;
};

// One cell as the console stores it: the 8-bit character in the low byte of
// `ch`, the colour attribute beside it.
struct CharCell {
    uint16_t ch;
    uint16_t attributes;
};

bool get_screen_buffer_info(Handle handle, ScreenBufferInfo* info);
bool write_console_output(Handle handle, const CharCell* cells, Coord cells_size, Coord cells_origin, Rect* region);
bool scroll_screen_buffer(Handle handle, const Rect& scroll, const Rect* clip, Coord destination, const CharCell& fill);
bool fill_output_attribute(Handle handle, uint16_t attribute, uint32_t count, Coord start, uint32_t* written);
bool fill_output_character(Handle handle, char ch, uint32_t count, Coord start, uint32_t* written);
bool set_cursor_position(Handle handle, Coord position);
bool set_window_info(Handle handle, bool absolute, const Rect& window);

// ---- Console input -----------------------------------------------------------

inline constexpr uint16_t KEY_EVENT = 0x0001;

struct KeyEvent {
    bool key_down;
    uint16_t repeat_count;
    uint16_t virtual_key_code;
    uint16_t virtual_scan_code;
    uint8_t ch;
    uint32_t control_key_state;
};

struct InputRecord {
    uint16_t event_type;
    KeyEvent key;  // meaningful when event_type is KEY_EVENT
};

// Room for one record each; *count is 0 or 1 afterwards.
bool peek_console_input(Handle handle, InputRecord* record, uint32_t* count);
bool read_console_input(Handle handle, InputRecord* record, uint32_t* count);

void sleep_ms(uint32_t milliseconds);

// MapVirtualKeyA with MAPVK_VK_TO_CHAR.
uint32_t map_virtual_key_to_char(uint32_t virtual_key);

// The runtime library's character classes, tolower and toupper.
bool is_upper(int ch);
bool is_lower(int ch);
int to_lower(int ch);
int to_upper(int ch);

// The console control handler runs on a thread of the platform's making.
using CtrlHandler = bool (*)(uint32_t ctrl_type);
bool set_ctrl_handler(CtrlHandler handler, bool add);

// ---- Process frame -------------------------------------------------------------

void set_app_type(int type);

// The fault filter sees the exception code and answers -1 (continue execution)
// or 0 (continue search).
using FaultFilter = int32_t (*)(uint32_t exception_code);
void set_fault_filter(FaultFilter filter);

void reset_fpu();
uint32_t control_fp(uint32_t new_value, uint32_t mask);

// The arguments as the process entry received them. The Windows platform
// ignores them: fetch_main_args gets its own from the runtime library.
void keep_main_args(int argc, char** argv);

// __getmainargs with wildcard expansion, then __p__environ. The native
// program takes its options here, before anything is prepared or written:
// --help and --version print and end the process, a bad argument ends it
// with status 2, and the others set what run_settings() answers.
void fetch_main_args();

using SignalHandler = void (*)(int);
SignalHandler set_signal(int signal_number, SignalHandler handler);

// The runtime library's _cexit, then ExitProcess.
[[noreturn]] void cexit_and_exit_process(int32_t status);

}  // namespace platform
