// Control side of the simulated platform: tests build the directory tree,
// files and console input here, make calls fail, and read back what the code
// did. The platform side (platform/platform.h) is implemented in
// sim_platform.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Thrown by exit_process and cexit_and_exit_process after the at-exit list
// has run, so that a test can run the tool's sequence to its end.
struct ProcessExit {
    int32_t status;
};

// Thrown by sleep_ms when a wait has polled so long that it would never end.
struct Stuck { };

// Forgets everything: tree, files, handles, input, at-exit list, call log.
void reset();

// Every platform call made since the last reset, by name, in order.
const std::vector<std::string>& calls();
int count_calls(const std::string& name);
void clear_calls();

// ---- Directory tree ----------------------------------------------------------
// Paths use backslashes and no trailing one. Entries come back from a search
// in the order they were added, after "." and "..", which a new directory gets
// first (pass dots = false to leave them out, as at a drive root).
inline constexpr uint32_t FILE_ATTRIB = 0x20;
inline constexpr uint32_t DIR_ATTRIB = 0x10;

void add_directory(const std::string& path, bool dots = true);
// A file, or a directory if attrib has 0x10 (with "." and ".." unless dots
// is false).
void add_entry(const std::string& path, uint32_t attrib, bool dots = true);
void add_file(const std::string& path, uint32_t attrib = FILE_ATTRIB);
void add_subdirectory(const std::string& path, uint32_t attrib = DIR_ATTRIB);

// A folder link (a junction or a symbolic link): an entry that stands for the
// target, a folder's full path, which need not exist. A search or an identity
// through the link reaches the target, as Windows resolves the link after the
// path's "..".
inline constexpr uint32_t LINK_ATTRIB = 0x410;
void add_link(const std::string& path, const std::string& target, uint32_t attrib = LINK_ATTRIB);
// identify_folder fails for this folder, by whatever path it is reached.
void refuse_identity(const std::string& path);

// A search of this directory hands out this many entries ("." and ".."
// included), then _findnext fails, as when the folder is removed meanwhile;
// with 0, _findfirst fails.
void end_searches_after(const std::string& path, std::size_t entries);

// Handles from find_first not yet closed with find_close.
int open_search_handles();
bool search_is_open(platform::SearchHandle handle);
// find_close calls on a handle that was not open: closed twice, or never made.
int bad_search_closes();

// An entry whose name holds what a path cannot: a backslash, or a name that a
// path would resolve (".." and the like), as a search may return them.
void add_named_entry(const std::string& directory, const std::string& name, uint32_t attrib);

// Searches of patterns longer than this fail, as Windows' do beyond MAX_PATH.
void limit_path_length(std::size_t characters);

void set_current_directory(std::optional<std::string> path);  // nullopt: the query fails

// The ANSI code page: 1252 at reset (no lead bytes), or 932, whose lead bytes
// 0x81-0x9F and 0xE0-0xFC begin double-byte characters. Paths are then split
// by characters: a backslash that ends a double-byte character is no separator.
void set_code_page(uint32_t code_page);

// ---- Files -------------------------------------------------------------------
// Contents after the last write-out, or nullopt if the file was never created.
std::optional<std::string> file_contents(const std::string& name);
void put_file(const std::string& name, const std::string& contents);
void refuse_open(const std::string& name);
// The stream takes this many more bytes in all, then writes come up short.
void limit_writes(std::size_t bytes);
// Every write-out of buffered bytes fails (a full disk); the close still
// reports success, as one runtime library does.
void fail_write_out();
std::size_t stream_buffer_size();  // the last buffer size asked for
int open_streams();

// ---- Standard handles, output and input -------------------------------------
inline const platform::Handle STD_IN = reinterpret_cast<platform::Handle>(0x10);
inline const platform::Handle STD_OUT = reinterpret_cast<platform::Handle>(0x14);

void set_std_handle(int32_t which, platform::Handle handle);
const std::string& stdout_bytes();
// The output split at CR LF; a trailing part without one is dropped.
std::vector<std::string> stdout_lines();
// Each WriteFile to standard output takes at most this many bytes (0: none,
// yet it reports success).
void limit_stdout_writes(uint32_t bytes);

void set_input_is_console(bool console);
void set_console_input_mode(uint32_t mode);
uint32_t console_input_mode();
void queue_input(const platform::InputRecord& record);
void queue_key(uint8_t ch, uint16_t virtual_key = 0x41, uint16_t scan = 0x1E, uint32_t state = 0);
std::size_t pending_input();
// Called at each sleep_ms, with the number of sleeps so far.
void on_sleep(void (*hook)(int sleeps));
int sleeps();

// ---- Console screen buffer (sim_console.cpp) -------------------------------
// Standard output (STD_OUT) is not a console until make_console: every
// screen-buffer call fails, as on a redirected handle. A console starts blank
// (spaces in attribute 7) with the cursor at (0,0).
void make_console(int16_t width, int16_t height, platform::Rect window);
void set_console_cursor(platform::Coord position);
void set_console_attribute(uint16_t attribute);
void set_console_window(platform::Rect window);                      // as the user would move or resize it
void put_console_text(platform::Coord at, const std::string& text);  // cells already on the screen

// Failure injection, from now on: nth = 0 makes every such call fail, nth > 0
// only the nth one.
void fail_screen_info(int nth = 0);
void fail_console_output(int nth = 0);

// The output calls, for a hook that decides which of them fail.
enum class OutputCall { SCREEN_INFO, WRITE_OUTPUT, SCROLL, FILL, CURSOR, WINDOW, WRITE_FILE };
// Asked at every such call on standard output, before anything else: true
// makes it fail as a refused call does. Null removes the hook.
void on_output_call(bool (*fails)(OutputCall call));
// Calls that reached the console with arguments leaving its buffer: a write,
// fill, scroll, cursor or window outside it, or an inverted rectangle.
// Windows clips some of these and Wine refuses others; the service should
// make none.
int console_argument_faults();
const std::string& last_argument_fault();  // the call and its rectangle

// The buffer made another size, as a user may do on Windows: cells kept
// where both sizes have them, the cursor and window pulled inside.
void resize_console(int16_t width, int16_t height);
platform::Coord console_size();

// A row's characters, trailing spaces dropped.
std::string console_row(int row);
uint16_t console_attribute(platform::Coord cell);
platform::Coord console_cursor();
platform::Rect console_window();

// ---- Console control events and keyboard (sim_input.cpp) -------------------
// A key record with any fields, for queue_input.
platform::InputRecord key_record(
    bool down, uint8_t ch, uint16_t virtual_key, uint16_t scan, uint32_t state, uint16_t repeat_count = 1);
// The next `count` ReadConsoleInputA calls fail and leave the queue as it is.
void fail_input_reads(int count);
// Calls the installed console control handler as the platform does and
// returns its answer; false (the platform's default follows) if none is
// installed.
bool raise_ctrl_event(uint32_t ctrl_type);
bool has_ctrl_handler();

// ---- Process frame (sim_frame.cpp) -------------------------------------------
// The type last given to __set_app_type, or 0 before any.
int app_type();
// A fault the platform hands to the installed filter: its answer, or 0
// (continue search) when no filter is installed.
int32_t raise_fault(uint32_t exception_code);
// Dispositions read and set without a call in the log; SIG_DFL until set.
platform::SignalHandler signal_disposition(int signal_number);
void set_signal_disposition(int signal_number, platform::SignalHandler handler);
// What run_settings answers; the defaults (the plain run) until set.
void set_run_settings(const platform::RunSettings& settings);
// The floating-point control word in _controlfp's terms; FNINIT sets the
// word that start-up leaves, 0x0008001F.
uint32_t control_word();
void set_control_word(uint32_t word);

// ---- At-exit list ------------------------------------------------------------
std::size_t at_exit_entries();

}  // namespace sim
