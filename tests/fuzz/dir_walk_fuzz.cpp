// The directory enumeration and the tree walk on a fuzzed tree (attribute
// words, names, order, depth, folder links), then a fuzzed series of
// dir_first and dir_next calls on three nested states, each checked against a
// model of the enumeration: the names handed out are exactly the accepted
// entries in the platform's order, every search that ran to its end has
// closed its handle, and no handle is closed twice. The walk lists each file
// once, in pre-order, and enters no folder twice on one path through a link.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/main_sequence.h"
#include "app/tree_walk.h"
#include "fuzz/fuzz_support.h"
#include "services/dir_scan.h"
#include "services/file_channel.h"

namespace {

const std::string PARENT = "C:\\G";
const std::string ROOT = PARENT + "\\Data";
constexpr int MAX_ENTRIES = 80;
constexpr int MAX_DEPTH = 7;
constexpr int MAX_CALLS = 200;
// Each link can double the paths below the folders it leads to.
constexpr std::size_t MAX_LINKS = 4;
constexpr uint32_t A_REPARSE_POINT = 0x400;

struct Entry {
    std::string name;
    uint32_t attrib;
};

// The tree as built in the simulation: each directory's entries in the
// platform's order, "." and ".." among them when it has them.
std::map<std::string, std::vector<Entry>> tree;
std::map<std::string, std::string> links;  // by their paths, to their targets

// The folder a path names, as Windows reads it: each part without its trailing
// dots and spaces (so that a part of nothing else names the folder it stands
// in), ".." the folder above, then each link in it followed. Links here lead
// only to folders made without links.
std::string resolved(const std::string& path)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t end = std::min(path.find('\\', at), path.size());
        std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part == ".." && parts.size() > 1) {
            parts.pop_back();
            continue;
        }
        part.erase(part.find_last_not_of(". ") + 1);
        if (!part.empty())
            parts.push_back(part);
    }
    std::string folder;
    for (const std::string& part : parts) {
        folder += (folder.empty() ? "" : "\\") + part;
        if (auto link = links.find(folder); link != links.end())
            folder = link->second;
    }
    return folder;
}

const char* const SPECIAL_NAMES[] = { ".", "..", "Video", "video", "Videos", "a", "A", "x.dds", "Data" };

std::string fuzzed_name(FuzzedDataProvider& data)
{
    if (data.ConsumeBool())
        return SPECIAL_NAMES[data.ConsumeIntegralInRange<std::size_t>(0, std::size(SPECIAL_NAMES) - 1)];
    std::string name = data.ConsumeRandomLengthString(12);
    std::erase_if(name, [](char c) { return c == '\\' || c == '\0'; });
    return name.empty() ? "n" : name;
}

uint32_t fuzzed_attrib(FuzzedDataProvider& data)
{
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return sim::FILE_ATTRIB;
    case 1:
        return sim::DIR_ATTRIB;
    case 2:
        return data.ConsumeIntegral<uint8_t>();
    default:
        return data.ConsumeIntegral<uint32_t>();
    }
}

void build_directory(FuzzedDataProvider& data, const std::string& path, int depth, int& budget)
{
    std::vector<Entry>& entries = tree[path];
    std::set<std::string> names;
    for (const Entry& entry : entries)
        names.insert(entry.name);
    std::vector<std::string> subdirectories;
    int count = data.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && budget > 0; ++i, --budget) {
        Entry entry{ fuzzed_name(data), fuzzed_attrib(data) };
        // Names are unique within a directory, as on any file system.
        if (!names.insert(entry.name).second)
            continue;
        // A folder with the link bit is a link; its high bits pick the
        // target: a folder made before (the start folder's parent among
        // them), or none.
        if ((entry.attrib & (A_REPARSE_POINT | sim::DIR_ATTRIB)) == (A_REPARSE_POINT | sim::DIR_ATTRIB)
            && links.size() < MAX_LINKS) {
            std::vector<std::string> targets{ "C:\\Nowhere" };
            for (const auto& [folder, _] : tree)
                targets.push_back(resolved(folder));
            // Its low bits are a plain folder's: a hidden or read-only one is
            // passed over before it is looked at as a link.
            entry.attrib = (entry.attrib & ~0xFFu) | sim::DIR_ATTRIB;
            std::string link = path + "\\" + entry.name;
            links[link] = targets[(entry.attrib >> 16) % targets.size()];
            sim::add_link(link, links[link], entry.attrib);
            tree[path].push_back(entry);
            continue;
        }
        bool dots = data.ConsumeBool();
        sim::add_entry(path + "\\" + entry.name, entry.attrib, dots);
        tree[path].push_back(entry);
        if (entry.attrib & sim::DIR_ATTRIB) {
            tree[path + "\\" + entry.name]
                = dots ? std::vector<Entry>{ { ".", 0x10 }, { "..", 0x10 } } : std::vector<Entry>{};
            subdirectories.push_back(entry.name);
        }
    }
    if (depth >= MAX_DEPTH)
        return;
    for (const std::string& name : subdirectories)
        build_directory(data, path + "\\" + name, depth + 1, budget);
}

bool accepted(uint32_t attrib, int32_t mask)
{
    auto bits = static_cast<uint32_t>(mask);
    uint32_t effective = (bits & 0x10) ? bits | 0xFFFFFF00u : bits | 0xFFFFFF20u;
    return (attrib & ~effective) == 0;
}

// Whether the walk enters a folder of this name: not "Video", nor one that
// ends in a dot, holds a separator or only dots and spaces ("." and ".."
// among them).
bool enterable(const std::string& name)
{
    return name != "Video" && name.back() != '.' && name.find_first_of("\\/") == std::string::npos
        && name.find_first_not_of(". ") != std::string::npos;
}

// The walk as its rules state it: the level's files (none at the top), then
// each accepted subdirectory that it enters, completely; but a folder reached
// through a link, or below one, only where it exists and is none of the
// folders on the path.
void expected_walk(const std::string& path, bool through_link, std::vector<std::string>& on_path, std::string& listing)
{
    auto found = tree.find(resolved(path));
    if (found == tree.end())
        return;  // no such directory: the search finds nothing
    for (const Entry& entry : found->second) {
        if (path != ROOT && accepted(entry.attrib, 0x27))
            listing += path.substr(ROOT.size() + 1) + "\\" + entry.name + "\r\n";
    }
    for (const Entry& entry : found->second) {
        if (!accepted(entry.attrib, 0x10) || !enterable(entry.name))
            continue;
        std::string below = path + "\\" + entry.name;
        std::string folder = resolved(below);
        bool checked = through_link || (entry.attrib & A_REPARSE_POINT) != 0;
        if (checked && (!tree.count(folder) || std::count(on_path.begin(), on_path.end(), folder) != 0))
            continue;
        on_path.push_back(folder);
        expected_walk(below, checked, on_path, listing);
        on_path.pop_back();
    }
}

void check_walk()
{
    root_dir = ROOT + "\\";
    list_file_number = 1;
    FUZZ_CHECK(open_channel("list", MODE_OUTPUT, ACCESS_WRITE, 2, 1, 0, "ascii") == FILE_OK);
    DirScan* before = current_dir_scan;
    FUZZ_CHECK(walk_tree(root_dir) == FILE_OK);
    FUZZ_CHECK(close_channel(0) == FILE_OK);
    std::string listing;
    std::vector<std::string> on_path{ ROOT };
    expected_walk(ROOT, false, on_path, listing);
    for (char& c : listing) {
        if (c == '\\')
            c = '/';
    }
    FUZZ_CHECK(sim::stdout_bytes() == listing);
    FUZZ_CHECK(sim::file_contents("list") == listing);
    FUZZ_CHECK(sim::open_search_handles() == 0);
    FUZZ_CHECK(sim::bad_search_closes() == 0);
    FUZZ_CHECK(before == nullptr || current_dir_scan == before);
}

// One search as the enumeration's rules describe it.
struct ModelScan {
    bool open = false;
    const std::vector<Entry>* entries = nullptr;
    std::size_t next = 0;
    int32_t mask = 0;

    std::string advance()
    {
        for (; next < entries->size(); ++next) {
            if (accepted((*entries)[next].attrib, mask))
                return (*entries)[next++].name;
        }
        open = false;
        return {};
    }
    std::string first(const std::vector<Entry>* directory, int32_t search_mask)
    {
        open = false;
        if (!directory || directory->empty())
            return {};
        entries = directory;
        next = 0;
        mask = search_mask;
        open = true;
        return advance();
    }
    std::string following() { return open ? advance() : std::string(); }
};

void check_calls(FuzzedDataProvider& data)
{
    std::vector<std::string> directories{ ROOT + "\\missing" };
    for (const auto& [path, entries] : tree)
        directories.push_back(path);
    for (const auto& [path, target] : links)
        directories.push_back(path);
    // State 0 is the service's own, made on first use; 1 and 2 are the caller's.
    std::array<DirScan, 2> own{};
    std::array<DirScan*, 3> states{ current_dir_scan, &own[0], &own[1] };
    std::array<ModelScan, 3> model;
    for (int call = 0; call < MAX_CALLS && data.remaining_bytes() > 0; ++call) {
        auto k = data.ConsumeIntegralInRange<std::size_t>(0, 2);
        current_dir_scan = states[k];
        std::string name;
        std::string expected;
        switch (data.ConsumeIntegralInRange(0, 2)) {
        case 0: {
            const std::string& path = directories[data.ConsumeIntegralInRange<std::size_t>(0, directories.size() - 1)];
            int32_t mask = data.ConsumeBool() ? (data.ConsumeBool() ? 0x27 : 0x10) : data.ConsumeIntegral<int32_t>();
            auto found = tree.find(resolved(path));
            name = dir_first(path + "\\*.*", mask);
            expected = model[k].first(found == tree.end() ? nullptr : &found->second, mask);
            break;
        }
        case 1:
            name = dir_first("", data.ConsumeIntegral<int32_t>());
            expected = model[k].following();
            break;
        default:
            name = dir_next();
            expected = model[k].following();
            break;
        }
        states[k] = current_dir_scan;  // state 0 once the service has made it
        FUZZ_CHECK(name == expected);
        FUZZ_CHECK((states[k]->in_use == 1) == model[k].open);
        FUZZ_CHECK(!model[k].open || sim::search_is_open(states[k]->handle));
        FUZZ_CHECK(model[k].open || !sim::search_is_open(states[k]->handle));
        int open = 0;
        for (const ModelScan& scan : model)
            open += scan.open;
        FUZZ_CHECK(sim::open_search_handles() == open);
        FUZZ_CHECK(sim::bad_search_closes() == 0);
    }
    current_dir_scan = states[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    fresh_process();
    tree.clear();
    links.clear();
    bool dots = data.ConsumeBool();
    // The start folder in its parent, where a link above it leads.
    sim::add_entry(ROOT, sim::DIR_ATTRIB, dots);
    tree[PARENT] = { { ".", 0x10 }, { "..", 0x10 }, { "Data", 0x10 } };
    tree[ROOT] = dots ? std::vector<Entry>{ { ".", 0x10 }, { "..", 0x10 } } : std::vector<Entry>{};
    int budget = MAX_ENTRIES;
    build_directory(data, ROOT, 1, budget);
    if (data.ConsumeBool())
        check_walk();
    check_calls(data);
    return 0;
}
