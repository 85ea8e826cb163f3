// The list file's stream: its writes, write-outs and close, watched for the
// failures that a run given options reports, and, given -o, the new file
// beside the target, which takes the target's place only when the list is
// whole and on the disk. The runtime's buffered stream does the writing.
#include "platform/posix/list_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "platform/platform.h"
#include "platform/posix/options.h"
#include "platform/posix/posix_support.h"

namespace platform {

namespace {

// As many as the kernel follows before it answers ELOOP.
constexpr int MAX_LINK_HOPS = 40;

// A name in a folder known by its identity: the walk may read the folder by
// another path, through a link.
struct Place {
    dev_t device;
    ino_t inode;
    std::string name;
};

struct Target {
    std::string shown;
    std::string folder;  // its real path
    std::string path;    // in that folder: what the rename replaces
    mode_t permissions;  // those of the file replaced, else those a new file gets
    // The file replaced keeps its owner where the run may give it (-1: none).
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
    // The target first; then -o's link where it named one, and the new file.
    std::vector<Place> places;
};

std::optional<Target> target;

// The new file's path, for the handlers of signals that end the process too.
char new_file[PATH_MAX];
volatile sig_atomic_t new_file_exists = 0;

FILE* list = nullptr;
std::string list_path;  // as it was opened
bool failed = false;

// No handler removes the new file between its creation and its record, or
// between its rename and the record's end.
sigset_t all_signals()
{
    sigset_t all;
    sigfillset(&all);
    return all;
}

FILE* file_of(Stream* stream)
{
    return reinterpret_cast<FILE*>(stream);
}

std::string folder_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The kernel's rule for links in a shared folder such as /tmp (sticky and
// writable by all), which following a link by hand would pass by: one there
// is followed only when it is the follower's or the folder owner's, so that
// no other user's link can make the run replace a file of its choosing.
bool may_follow(const std::string& link, const struct stat& info)
{
    struct stat folder;
    if (stat(folder_of(link).c_str(), &folder) != 0)
        return false;
    bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || info.st_uid == geteuid() || info.st_uid == folder.st_uid;
}

// Where a chain of symbolic links leads: the path itself where it is no link,
// whether or not it exists. Empty, with errno set, where the chain goes on.
std::string followed(std::string path)
{
    std::vector<char> link(PATH_MAX);
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        if (!may_follow(path, info)) {
            errno = EACCES;
            return {};
        }
        ssize_t size = readlink(path.c_str(), link.data(), link.size());
        if (size < 0)
            return {};
        if (static_cast<std::size_t>(size) == link.size()) {
            errno = ENAMETOOLONG;
            return {};
        }
        std::string leads_to(link.data(), static_cast<std::size_t>(size));
        path = leads_to.starts_with('/') ? leads_to : joined(folder_of(path), leads_to);
    }
    errno = ELOOP;
    return {};
}

// The real path of the folder that holds `path`, and its identity.
bool locate(const std::string& path, std::string* folder, struct stat* info)
{
    char* real = realpath(folder_of(path).c_str(), nullptr);
    if (!real)
        return false;
    *folder = real;
    std::free(real);
    return stat(folder->c_str(), info) == 0;
}

bool refuse(const char* file, const char* reason)
{
    posix::print_error(std::string("cannot write the list to '") + file + "': " + reason);
    return false;
}

// The list file's full name, as errors name it.
std::string list_name()
{
    if (target)
        return target->shown;
    char* here = list_path.starts_with('/') ? nullptr : realpath(".", nullptr);
    std::string name = here ? joined(here, list_path) : list_path;
    std::free(here);
    return name;
}

// The first failure is the one reported, with its reason.
void note_failure(int error)
{
    if (failed)
        return;
    failed = true;
    try {
        if (posix::options().given)
            posix::print_error("cannot write '" + list_name() + "': " + std::strerror(error));
    } catch (const std::bad_alloc&) {
        // The exit status still tells.
    }
}

void note_failure_of(FILE* file, int error)
{
    if (file == list)
        note_failure(error);
}

// The new file takes the target's place, or goes.
void finish_new_file()
{
    int error = 0;
    {
        posix::SignalsHeld held(all_signals());
        if (!failed && rename(new_file, target->path.c_str()) != 0)
            error = errno;
        if (failed || error != 0)
            unlink(new_file);
        new_file_exists = 0;
    }
    if (error != 0) {
        note_failure(error);
        return;
    }
    // The rename itself reaches the disk with its folder. Should that fail,
    // the list is in place all the same, and a crash can only bring the old
    // one back, whole.
    int folder = open(target->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

}  // namespace

std::size_t stream_write(const void* bytes, std::size_t count, Stream* stream)
{
    std::size_t taken = std::fwrite(bytes, 1, count, file_of(stream));
    if (taken < count)
        note_failure_of(file_of(stream), errno);
    return taken;
}

int stream_flush(Stream* stream)
{
    int result = std::fflush(file_of(stream));
    if (result != 0)
        note_failure_of(file_of(stream), errno);
    return result;
}

int stream_close(Stream* stream)
{
    FILE* file = file_of(stream);
    if (file != list)
        return std::fclose(file);
    list = nullptr;
    if (std::fflush(file) != 0)
        note_failure(errno);
    // A failed write was noted with its reason when it failed.
    if (std::ferror(file))
        note_failure(EIO);
    if (new_file_exists && !failed && fsync(fileno(file)) != 0)
        note_failure(errno);
    if (std::fclose(file) != 0)
        note_failure(errno);
    if (new_file_exists)
        finish_new_file();
    return failed ? EOF : 0;
}

namespace posix {

bool choose_list_target(const char* file)
{
    std::string given = file;
    std::string path = followed(given);
    Target chosen;
    struct stat folder;
    if (path.empty() || !locate(path, &chosen.folder, &folder))
        return refuse(file, std::strerror(errno));
    std::string name = name_of(path);
    if (name.empty() || name == "." || name == "..")
        return refuse(file, std::strerror(EISDIR));
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
        // A rename over a device or a FIFO would replace the node itself.
        if (!S_ISREG(info.st_mode))
            return refuse(file, S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
        chosen.permissions = info.st_mode & 07777;
        chosen.owner = info.st_uid;
        chosen.group = info.st_gid;
    } else if (errno == ENOENT) {
        mode_t mask = umask(0);
        umask(mask);
        chosen.permissions = NEW_FILE_PERMISSIONS & ~mask;
    } else {
        return refuse(file, std::strerror(errno));
    }
    chosen.path = joined(chosen.folder, name);
    chosen.places.push_back(Place{ folder.st_dev, folder.st_ino, name });
    std::string shown_folder = chosen.folder;
    if (path != given) {
        if (!locate(given, &shown_folder, &folder))
            return refuse(file, std::strerror(errno));
        chosen.places.push_back(Place{ folder.st_dev, folder.st_ino, name_of(given) });
    }
    chosen.shown = joined(shown_folder, name_of(given));
    target = std::move(chosen);
    return true;
}

const std::string& list_target()
{
    static const std::string none;
    return target ? target->shown : none;
}

FILE* open_beside_list_target()
{
    std::string name = "." + target->places.front().name + ".XXXXXX";
    std::string pattern = joined(target->folder, name);
    if (pattern.size() >= sizeof new_file) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    prepare_ending_signals();
    int fd;
    int error;
    {
        posix::SignalsHeld held(all_signals());
        std::memcpy(new_file, pattern.c_str(), pattern.size() + 1);
        fd = mkstemp(new_file);
        error = errno;
        new_file_exists = fd >= 0;
    }
    if (fd < 0) {
        errno = error;
        return nullptr;
    }
    const Place& folder = target->places.front();
    target->places.push_back(Place{ folder.device, folder.inode, new_file + pattern.size() - name.size() });
    // The owner first: a change of owner may clear the permissions' set-id
    // bits. Only root may give the file to another user, so a refusal leaves
    // it the runner's, as any file the run makes.
    [[maybe_unused]] int owner_kept = fchown(fd, target->owner, target->group);
    FILE* file = fchmod(fd, target->permissions) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        error = errno;
        close(fd);
        remove_unfinished_list();
        errno = error;
    }
    return file;
}

void list_opened(FILE* file, const std::string& path)
{
    int error = errno;
    list = file;
    list_path = path;
    failed = false;
    if (!file)
        note_failure(error);
}

bool list_failed()
{
    return failed;
}

std::vector<std::string_view> list_entries_in(int folder)
{
    std::vector<std::string_view> names;
    struct stat info;
    if (!target || fstat(folder, &info) != 0)
        return names;
    for (const Place& place : target->places) {
        if (place.device == info.st_dev && place.inode == info.st_ino)
            names.push_back(place.name);
    }
    return names;
}

void remove_unfinished_list()
{
    if (new_file_exists) {
        unlink(new_file);
        new_file_exists = 0;
    }
}

}  // namespace posix

}  // namespace platform
