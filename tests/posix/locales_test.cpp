// Which locales the machine has: the platform's answer, from the names alone,
// against the C library's own, which loads the locale.
#include <locale.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/posix/locales.h"
#include "posix/temp_dir.h"

namespace {

using platform::posix::host_locale_files;
using platform::posix::locale_exists;

// In a child of its own: with LOCPATH set, glibc keeps the path it made for
// good, which the leak checker would take for this program's.
bool c_library_finds(const std::string& name)
{
    pid_t child = fork();
    if (child == 0)
        _exit(newlocale(LC_CTYPE_MASK, name.c_str(), locale_t{}) ? 0 : 1);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Names in the forms a user gives them: codesets written either way, asked of
// a locale in another one, modifiers, aliases, and the separators alone.
void expect_as_the_c_library(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        EXPECT_EQ(locale_exists(name, host_locale_files()), c_library_finds(name)) << name;
}

TEST(PosixLocales, TheMachinesLocalesAsTheCLibraryFindsThem)
{
    ASSERT_TRUE(c_library_finds("pl_PL.UTF-8"))
        << "pl_PL.UTF-8 is not generated here (tools/install-deps generates it)";
    std::vector<std::string> names
        = { "C", "POSIX", "C.UTF-8", "C.utf8", "polish", "japanese", "xx_YY.UTF-8", "/tmp", "../pl_PL.UTF-8" };
    for (std::string language : { "pl_PL", "ja_JP", "vi_VN", "de_DE", "en_US" }) {
        for (const char* suffix : { "", ".UTF-8", ".utf8", ".ISO-8859-2", ".", "@euro", ".UTF-8@latin", ".foo" })
            names.push_back(language + suffix);
    }
    expect_as_the_c_library(names);
}

// Through LOCPATH, in folders of its own: a locale without a codeset in its
// name is found by a name with one only where that is the locale's.
TEST(PosixLocales, FoldersAsTheCLibrarySearchesThem)
{
    const std::filesystem::path c_utf8 = "/usr/lib/locale/C.utf8";
    ASSERT_TRUE(std::filesystem::is_directory(c_utf8)) << "a UTF-8 locale's folder to copy";
    TempDir root;
    for (const char* name : { "xx_YY", "xx_ZZ.utf8@mod" })
        std::filesystem::copy(c_utf8, root / name, std::filesystem::copy_options::recursive);
    ASSERT_EQ(setenv("LOCPATH", root.path().c_str(), 1), 0);
    expect_as_the_c_library({ "xx_YY", "xx_YY.UTF-8", "xx_YY.utf-8@x", "xx_YY.ISO-8859-1", "xx_YY.", "xx_ZZ.UTF-8@mod",
        "xx_ZZ@mod", "xx_ZZ.utf8", "xx", "pl_PL.UTF-8" });
    EXPECT_TRUE(locale_exists("xx_YY.UTF-8", host_locale_files()));
    unsetenv("LOCPATH");
}

}  // namespace
