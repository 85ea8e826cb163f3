// replace_all against a literal transcription of the 1-based scan that
// defines it: the same result for every source, find and replacement.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "app/list_entry.h"
#include "fuzz/fuzz_support.h"

namespace {

// The position (1-based) of the first occurrence of find in text at or after
// start, or 0.
std::size_t position(const std::string& text, const std::string& find, std::size_t start)
{
    if (find.empty() || start > text.size())
        return 0;
    for (std::size_t p = start; p + find.size() <= text.size() + 1; ++p) {
        if (text.compare(p - 1, find.size(), find) == 0)
            return p;
    }
    return 0;
}

std::string scan_replace(const std::string& source, const std::string& find, const std::string& replacement)
{
    std::string result = source;
    std::size_t start = 1;
    for (;;) {
        std::size_t p = position(result, find, start);
        if (p == 0)
            return result;
        // cppcheck-suppress uselessCallsSubstr ; the rules' own words: the part before, the replacement, the rest
        result = result.substr(0, p - 1) + replacement + result.substr(p - 1 + find.size());
        start = p + replacement.size();
    }
}

// A small alphabet makes occurrences, overlaps and back-to-back matches common.
std::string text(FuzzedDataProvider& data, bool narrow)
{
    std::string bytes = data.ConsumeRandomLengthString(64);
    if (narrow) {
        for (char& c : bytes)
            c = "ab\\/"[static_cast<unsigned char>(c) % 4];
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    bool narrow = data.ConsumeBool();
    std::string find = text(data, narrow);
    std::string replacement = text(data, narrow);
    std::string source = text(data, narrow);
    FUZZ_CHECK(replace_all(source, find, replacement) == scan_replace(source, find, replacement));
    return 0;
}
