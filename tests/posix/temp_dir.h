// A fresh folder under the system's temporary directory, removed with all it
// holds at the end of the test.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "aol-posix-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        // A folder left without write permission would keep its entries. A
        // link is not followed: it may lead nowhere, or round to itself.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
            if (!entry.is_symlink() && entry.is_directory())
                chmod(entry.path().c_str(), 0755);
        }
        std::filesystem::remove_all(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    void file(const std::string& name, const std::string& bytes = "") const
    {
        std::ofstream(*this / name, std::ios::binary) << bytes;
    }
    void dir(const std::string& name) const { std::filesystem::create_directory(*this / name); }

private:
    std::string path_;
};
