// The tree walk: each directory's files, then each of its subdirectories in turn.
#include "app/tree_walk.h"

#include "app/list_entry.h"
#include "app/main_sequence.h"
#include "platform/platform.h"
#include "services/dir_scan.h"
#include "services/file_channel.h"

namespace {

constexpr int32_t FILE_MASK = A_RDONLY | A_HIDDEN | A_SYSTEM | A_ARCH;
constexpr int32_t SUBDIR_MASK = A_SUBDIR;
constexpr const char* SEARCH_PATTERN = "*.*";

// A name that holds a separator, ends in a dot, or holds only dots and spaces
// leads out of the folder it stands in: Windows strips trailing dots (and
// spaces) from the parts of a path, so such a name names the folder itself, a
// folder above it, or a sibling (`x.` is `x`). "." and ".." are of this kind;
// so are names that best fit made of others, such as fullwidth dots and
// backslashes. Such a folder is passed over like one that cannot be searched.
bool leads_elsewhere(const std::string& name)
{
    if (name.back() == '.')
        return true;
    for (std::size_t at = 0; at < name.size(); at += char_length(name, at)) {
        char c = name[at];
        if (c == '\\' || c == '/')
            return true;
    }
    return name.find_first_not_of(". ") == std::string::npos;
}

bool is_excluded(const std::string& name)
{
    return name == "Video" || leads_elsewhere(name);
}

}  // namespace

int32_t walk_tree(std::string& path)
{
    if (path.empty() || path.back() != platform::PATH_SEPARATOR)
        path += platform::PATH_SEPARATOR;
    std::string pattern = path + SEARCH_PATTERN;
    int32_t first_error = FILE_OK;

    // The start directory's own files are not listed.
    bool emits = path != root_dir;
    for (std::string name = dir_first(pattern, FILE_MASK); !name.empty(); name = dir_next()) {
        if (emits) {
            int32_t error = emit_entry(path, name);
            if (first_error == FILE_OK)
                first_error = error;
        }
    }

    for (std::string name = dir_first(pattern, SUBDIR_MASK); !name.empty(); name = dir_next()) {
        if (is_excluded(name))
            continue;
        // The subwalk gets a search state of its own, so that this level's
        // subdirectory search resumes where it stood.
        DirScan* outer = current_dir_scan;
        DirScan inner{};
        current_dir_scan = &inner;
        std::string subdirectory = path + name + platform::PATH_SEPARATOR;
        int32_t error = walk_tree(subdirectory);
        current_dir_scan = outer;
        if (first_error == FILE_OK)
            first_error = error;
    }
    return first_error;
}
