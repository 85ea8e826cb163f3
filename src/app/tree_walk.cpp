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

// A folder on the path being walked. A folder link may lead back to any of
// them, and the walk would then go round until its paths grew too long, twice
// as many at each turn where two such links stand side by side. So a folder
// reached through a link, or below one, is not entered when it is already on
// the path, which only its identity tells: its path is new at every turn.
// A walk that meets no link asks for no identity at all; once one is met, the
// folders above it are identified, each once.
struct Level {
    Level* above;
    std::size_t path_length;  // of its path, which begins the paths below it
    bool through_link;        // reached through a link, or below one
    bool identified;
    platform::FolderId id;
};

bool identify(Level& level, const std::string& path)
{
    if (!level.identified)
        level.identified = platform::identify_folder(path.substr(0, level.path_length).c_str(), &level.id);
    return level.identified;
}

// Whether the folder, at the end of the path, may be one above it; a folder
// that cannot be identified, or one above it that cannot, may be.
bool may_be_on_path(Level& folder, const std::string& path)
{
    if (!identify(folder, path))
        return true;
    for (Level* above = folder.above; above; above = above->above) {
        if (!identify(*above, path) || above->id == folder.id)
            return true;
    }
    return false;
}

int32_t walk_level(std::string& path, Level& level)
{
    if (path.empty() || path.back() != platform::PATH_SEPARATOR)
        path += platform::PATH_SEPARATOR;
    level.path_length = path.size();
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
        std::string subdirectory = path + name + platform::PATH_SEPARATOR;
        bool link = (current_dir_scan->find_data.attrib & A_REPARSE_POINT) != 0;
        Level below{ &level, subdirectory.size(), level.through_link || link, false, {} };
        if (below.through_link && may_be_on_path(below, subdirectory))
            continue;
        // The subwalk gets a search state of its own, so that this level's
        // subdirectory search resumes where it stood.
        DirScan* outer = current_dir_scan;
        DirScan inner{};
        current_dir_scan = &inner;
        int32_t error = walk_level(subdirectory, below);
        current_dir_scan = outer;
        if (first_error == FILE_OK)
            first_error = error;
    }
    return first_error;
}

}  // namespace

int32_t walk_tree(std::string& path)
{
    Level start{};
    return walk_level(path, start);
}
