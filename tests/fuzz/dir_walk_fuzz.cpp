// The directory enumeration and the tree walk on a fuzzed tree (attribute
// words, names, order, depth), then a fuzzed series of dir_first and
// dir_next calls on three nested states, each checked against a model of the
// enumeration: the names handed out are exactly the accepted entries in the
// platform's order, every search that ran to its end has closed its handle,
// and no handle is closed twice. The walk lists each file once, in
// pre-order.
#include <fuzzer/FuzzedDataProvider.h>

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

const std::string ROOT = "C:\\G\\Data";
constexpr int MAX_ENTRIES = 80;
constexpr int MAX_DEPTH = 7;
constexpr int MAX_CALLS = 200;

struct Entry {
    std::string name;
    uint32_t attrib;
};

// The tree as built in the simulation: each directory's entries in the
// platform's order, "." and ".." among them when it has them.
std::map<std::string, std::vector<Entry>> tree;

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

// The walk as its rules state it: the level's files (none at the top), then
// each accepted subdirectory but ".", ".." and "Video", completely.
void expected_walk(const std::string& path, std::string& listing)
{
    auto found = tree.find(path);
    if (found == tree.end())
        return;  // no such directory: the search finds nothing
    for (const Entry& entry : found->second) {
        if (path != ROOT && accepted(entry.attrib, 0x27))
            listing += path.substr(ROOT.size() + 1) + "\\" + entry.name + "\r\n";
    }
    for (const Entry& entry : found->second) {
        if (accepted(entry.attrib, 0x10) && entry.name != "." && entry.name != ".." && entry.name != "Video")
            expected_walk(path + "\\" + entry.name, listing);
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
    expected_walk(ROOT, listing);
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
            auto found = tree.find(path);
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
    bool dots = data.ConsumeBool();
    sim::add_directory(ROOT, dots);
    tree[ROOT] = dots ? std::vector<Entry>{ { ".", 0x10 }, { "..", 0x10 } } : std::vector<Entry>{};
    int budget = MAX_ENTRIES;
    build_directory(data, ROOT, 1, budget);
    if (data.ConsumeBool())
        check_walk();
    check_calls(data);
    return 0;
}
