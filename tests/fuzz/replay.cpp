// Runs a fuzz target once on each input file, and on each file of a folder in
// name order, as libFuzzer does when it is given files: the committed corpora
// replayed on the sanitized build, with no fuzzing engine.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size);

namespace {

bool run_file(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<char> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // A copy of its own, so that a target reading past the input is caught.
    std::vector<uint8_t> bytes(input.begin(), input.end());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int replayed = 0;
    bool ok = argc > 1;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path = argv[i];
        std::set<std::filesystem::path> files;
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                files.insert(entry.path());
        } else {
            files.insert(path);
        }
        for (const auto& file : files) {
            ok = run_file(file) && ok;
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    if (replayed == 0)
        std::fprintf(stderr, "replay: no inputs (usage: %s FILE_OR_FOLDER...)\n", argv[0]);
    return ok && replayed > 0 ? 0 : 1;
}
