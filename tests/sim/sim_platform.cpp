// Simulated platform: directory tree, files, standard handles and process end.
#include <algorithm>
#include <map>
#include <memory>

#include "sim/sim.h"
#include "sim/sim_state.h"

struct platform::Stream {
    std::string name;
    std::string pending;  // bytes written but not yet written out
    bool error = false;
};

namespace sim {

namespace {

struct Directory {
    std::vector<platform::FindData> entries;
    uint64_t index;  // its identity's
};

struct Search {
    const Directory* directory;
    std::size_t next;
    std::size_t end;  // entries handed out before _findnext fails
};

struct State {
    std::vector<std::string> calls;
    std::map<std::string, Directory> directories;
    uint64_t next_index = 1;
    std::map<std::string, std::string> links;  // to their targets
    std::vector<std::string> unidentifiable;
    std::map<std::string, std::size_t> search_ends;
    std::map<platform::SearchHandle, Search> searches;
    platform::SearchHandle next_handle = 100;
    int bad_search_closes = 0;
    std::optional<std::string> current_directory = std::string("C:\\G\\Data");
    uint32_t code_page = 1252;
    std::optional<std::size_t> path_limit;
    std::map<std::string, std::string> files;
    std::vector<std::string> refused;
    std::optional<std::size_t> write_budget;
    bool write_out_fails = false;
    std::size_t buffer_size = 0;
    std::vector<std::unique_ptr<platform::Stream>> streams;
    platform::Handle std_in = STD_IN;
    platform::Handle std_out = STD_OUT;
    std::string stdout_bytes;
    std::optional<uint32_t> stdout_write_limit;
    std::vector<void (*)()> at_exit;
};

State state;

bool lead_byte(uint8_t byte)
{
    return state.code_page == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

// The path's parts between backslashes, by characters of the code page.
std::vector<std::string> parts_of(const std::string& path)
{
    std::vector<std::string> parts(1);
    for (std::size_t at = 0; at < path.size(); ++at) {
        if (path[at] == '\\') {
            parts.emplace_back();
            continue;
        }
        parts.back() += path[at];
        if (lead_byte(static_cast<uint8_t>(path[at])) && at + 1 < path.size())
            parts.back() += path[++at];
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count)
{
    std::string path;
    for (std::size_t i = 0; i < count; ++i)
        path += (i == 0 ? "" : "\\") + parts[i];
    return path;
}

std::string parent_of(const std::string& path)
{
    std::vector<std::string> parts = parts_of(path);
    return joined(parts, parts.size() - 1);
}

std::string leaf_of(const std::string& path)
{
    return parts_of(path).back();
}

// The directory that a search's path names, resolved as Windows resolves it:
// ".." goes up, and trailing dots and spaces are stripped from every part, so
// that a part of nothing else names the directory it stands in; then the
// links on the way are followed.
std::string resolved(const std::string& path)
{
    std::vector<std::string> parts;
    for (std::string part : parts_of(path)) {
        if (part == "." && parts.empty()) {  // a relative path's start
            parts.push_back(part);
            continue;
        }
        if (part == ".." && parts.size() > 1) {
            parts.pop_back();
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        if (!part.empty())
            parts.push_back(part);
    }
    // A chain of links that never ends in a folder leads nowhere.
    std::string folder;
    for (const std::string& part : parts) {
        folder += (folder.empty() ? "" : "\\") + part;
        for (int hops = 0; state.links.count(folder); ++hops) {
            if (hops == 32)
                return {};
            folder = state.links.at(folder);
        }
    }
    return folder;
}

platform::FindData entry(const std::string& name, uint32_t attrib)
{
    platform::FindData data{};
    data.attrib = attrib;
    name.copy(data.name, sizeof data.name - 1);
    return data;
}

bool write_out(platform::Stream& stream)
{
    if (state.write_out_fails && !stream.pending.empty()) {
        stream.pending.clear();  // a failed write-out discards the buffer
        stream.error = true;
        return false;
    }
    state.files[stream.name] += stream.pending;
    stream.pending.clear();
    return true;
}

void run_at_exit()
{
    while (!state.at_exit.empty()) {
        auto function = state.at_exit.back();
        state.at_exit.pop_back();
        function();
    }
}

}  // namespace

platform::Handle detail::std_input()
{
    return state.std_in;
}

void detail::record(const char* call)
{
    state.calls.emplace_back(call);
}

void reset()
{
    state = State{};
    detail::reset_console();
    detail::reset_input();
    detail::reset_frame();
}

const std::vector<std::string>& calls()
{
    return state.calls;
}

int count_calls(const std::string& name)
{
    return static_cast<int>(std::count(state.calls.begin(), state.calls.end(), name));
}

void clear_calls()
{
    state.calls.clear();
}

void add_directory(const std::string& path, bool dots)
{
    Directory& directory = state.directories[path];
    if (directory.index == 0)
        directory.index = state.next_index++;
    if (dots && directory.entries.empty()) {
        directory.entries.push_back(entry(".", DIR_ATTRIB));
        directory.entries.push_back(entry("..", DIR_ATTRIB));
    }
}

namespace {

void add_to_parent(const std::string& path, uint32_t attrib)
{
    std::string parent = parent_of(path);
    if (!state.directories.count(parent))
        add_directory(parent);
    state.directories[parent].entries.push_back(entry(leaf_of(path), attrib));
}

}  // namespace

void add_entry(const std::string& path, uint32_t attrib, bool dots)
{
    add_to_parent(path, attrib);
    if (attrib & DIR_ATTRIB)
        add_directory(path, dots);
}

void add_file(const std::string& path, uint32_t attrib)
{
    add_entry(path, attrib);
}

void add_subdirectory(const std::string& path, uint32_t attrib)
{
    add_entry(path, attrib | DIR_ATTRIB);
}

void add_link(const std::string& path, const std::string& target, uint32_t attrib)
{
    add_to_parent(path, attrib);
    state.links[path] = target;
}

void refuse_identity(const std::string& path)
{
    state.unidentifiable.push_back(path);
}

void end_searches_after(const std::string& path, std::size_t entries)
{
    state.search_ends[path] = entries;
}

int open_search_handles()
{
    return static_cast<int>(state.searches.size());
}

bool search_is_open(platform::SearchHandle handle)
{
    return state.searches.count(handle) != 0;
}

int bad_search_closes()
{
    return state.bad_search_closes;
}

void add_named_entry(const std::string& directory, const std::string& name, uint32_t attrib)
{
    add_directory(directory);
    state.directories[directory].entries.push_back(entry(name, attrib));
}

void limit_path_length(std::size_t characters)
{
    state.path_limit = characters;
}

void set_code_page(uint32_t code_page)
{
    state.code_page = code_page;
}

void set_current_directory(std::optional<std::string> path)
{
    state.current_directory = std::move(path);
}

std::optional<std::string> file_contents(const std::string& name)
{
    auto found = state.files.find(name);
    if (found == state.files.end())
        return std::nullopt;
    return found->second;
}

void put_file(const std::string& name, const std::string& contents)
{
    state.files[name] = contents;
}

void refuse_open(const std::string& name)
{
    state.refused.push_back(name);
}

void limit_writes(std::size_t bytes)
{
    state.write_budget = bytes;
}

void fail_write_out()
{
    state.write_out_fails = true;
}

std::size_t stream_buffer_size()
{
    return state.buffer_size;
}

int open_streams()
{
    return static_cast<int>(state.streams.size());
}

void set_std_handle(int32_t which, platform::Handle handle)
{
    (which == platform::STD_INPUT ? state.std_in : state.std_out) = handle;
}

const std::string& stdout_bytes()
{
    return state.stdout_bytes;
}

std::vector<std::string> stdout_lines()
{
    std::vector<std::string> lines;
    const std::string& out = state.stdout_bytes;
    std::size_t from = 0;
    for (std::size_t end = out.find("\r\n"); end != std::string::npos; end = out.find("\r\n", from)) {
        lines.push_back(out.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

void limit_stdout_writes(uint32_t bytes)
{
    state.stdout_write_limit = bytes;
}

std::size_t at_exit_entries()
{
    return state.at_exit.size();
}

}  // namespace sim

namespace platform {

using sim::state;
using sim::detail::record;

const char PATH_SEPARATOR = '\\';

bool is_lead_byte(uint8_t byte)
{
    record("IsDBCSLeadByte");
    return sim::lead_byte(byte);
}

uint32_t get_current_directory(uint32_t buffer_size, char* buffer)
{
    record("GetCurrentDirectoryA");
    if (!state.current_directory)
        return 0;
    const std::string& path = *state.current_directory;
    if (path.size() + 1 > buffer_size)
        return static_cast<uint32_t>(path.size() + 1);
    path.copy(buffer, path.size());
    buffer[path.size()] = '\0';
    return static_cast<uint32_t>(path.size());
}

int at_exit(void (*function)())
{
    record("atexit");
    state.at_exit.push_back(function);
    return 0;
}

void exit_process(int32_t status)
{
    record("exit");
    sim::run_at_exit();
    throw sim::ProcessExit{ status };
}

void cexit_and_exit_process(int32_t status)
{
    record("_cexit");
    sim::run_at_exit();
    record("ExitProcess");
    throw sim::ProcessExit{ status };
}

SearchHandle find_first(const char* pattern, FindData* data)
{
    record("_findfirst");
    std::string text = pattern;
    if (state.path_limit && text.size() > *state.path_limit)
        return SEARCH_FAILED;
    auto found = state.directories.find(sim::resolved(sim::parent_of(text)));
    std::string wildcard = sim::leaf_of(text);
    // Only "*.*" is simulated: the tool asks for nothing else.
    if (found == state.directories.end() || wildcard != "*.*" || found->second.entries.empty())
        return SEARCH_FAILED;
    auto end = state.search_ends.find(found->first);
    std::size_t size = end == state.search_ends.end() ? found->second.entries.size() : end->second;
    if (size == 0)
        return SEARCH_FAILED;
    *data = found->second.entries.front();
    SearchHandle handle = state.next_handle++;
    state.searches[handle] = sim::Search{ &found->second, 1, size };
    return handle;
}

int find_next(SearchHandle handle, FindData* data)
{
    record("_findnext");
    auto found = state.searches.find(handle);
    if (found == state.searches.end())
        return -1;
    sim::Search& search = found->second;
    if (search.next >= search.directory->entries.size() || search.next >= search.end)
        return -1;
    *data = search.directory->entries[search.next++];
    return 0;
}

int find_close(SearchHandle handle)
{
    record("_findclose");
    if (state.searches.erase(handle))
        return 0;
    ++state.bad_search_closes;
    return -1;
}

bool identify_folder(const char* path, FolderId* id)
{
    record("GetFileInformationByHandle");
    std::string folder = sim::resolved(path);
    auto found = state.directories.find(folder);
    auto& refused = state.unidentifiable;
    if (found == state.directories.end() || std::find(refused.begin(), refused.end(), folder) != refused.end())
        return false;
    *id = FolderId{ 1, found->second.index };
    return true;
}

Stream* stream_open(const char* name, const char* mode)
{
    record("fopen");
    if (std::string(mode) != "wb")
        return nullptr;
    if (std::find(state.refused.begin(), state.refused.end(), name) != state.refused.end())
        return nullptr;
    state.files[name].clear();
    state.streams.push_back(std::make_unique<Stream>());
    state.streams.back()->name = name;
    return state.streams.back().get();
}

int stream_set_buffer(Stream*, int buffering, std::size_t size)
{
    record("setvbuf");
    state.buffer_size = buffering == STREAM_FULL_BUFFERING ? size : 0;
    return 0;
}

std::size_t stream_write(const void* bytes, std::size_t count, Stream* stream)
{
    record("fwrite");
    std::size_t taken = count;
    if (state.write_budget) {
        taken = std::min(count, *state.write_budget);
        *state.write_budget -= taken;
        if (taken < count)
            stream->error = true;
    }
    stream->pending.append(static_cast<const char*>(bytes), taken);
    return taken;
}

int stream_flush(Stream* stream)
{
    record("fflush");
    return sim::write_out(*stream) ? 0 : -1;
}

bool stream_error(Stream* stream)
{
    record("ferror");
    return stream->error;
}

int stream_close(Stream* stream)
{
    record("fclose");
    sim::write_out(*stream);  // like one runtime, success even if this fails
    auto& streams = state.streams;
    streams.erase(std::find_if(streams.begin(), streams.end(), [&](auto& s) { return s.get() == stream; }));
    return 0;
}

Handle get_std_handle(int32_t which)
{
    record(which == STD_INPUT ? "GetStdHandle(input)" : "GetStdHandle(output)");
    return which == STD_INPUT ? state.std_in : state.std_out;
}

bool write_file(Handle handle, const void* bytes, uint32_t count, uint32_t* written)
{
    record("WriteFile");
    *written = 0;
    if (handle == nullptr || handle != state.std_out || sim::detail::output_call_fails(sim::OutputCall::WRITE_FILE))
        return false;
    uint32_t taken = state.stdout_write_limit ? std::min(count, *state.stdout_write_limit) : count;
    state.stdout_bytes.append(static_cast<const char*>(bytes), taken);
    *written = taken;
    return true;
}

}  // namespace platform
