// Private to the POSIX platform: which locales the machine has, decided as the
// C library finds them, from their names alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// Where the C library looks a locale up: its archive, its folders (LOCPATH's
// first, and then no archive, when that is set) and its file of aliases.
struct LocaleFiles {
    std::string archive;  // empty for none
    std::vector<std::string> folders;
    std::string aliases;
};

// Where glibc looks on this machine; the paths are its own, fixed when it is
// built, and the same on every distribution that keeps glibc in /usr.
LocaleFiles host_locale_files();

// Whether the C library finds a locale by this name: by the name itself (its
// codeset in the normal form, "UTF-8" as "utf8") in the archive, then by the
// name its alias gives, then in the folders, where it also tries the name
// without its codeset, territory or modifier. C and POSIX are always there.
// No locale's data is read: the program's own C library, which may be another
// version than the machine's, never loads them.
bool locale_exists(std::string_view name, const LocaleFiles& files);

// glibc's normal form of a codeset: letters in lower case and digits, nothing
// else; "iso" before one of digits alone ("UTF-8" is "utf8", "8859-1" is
// "iso88591").
std::string normal_codeset(std::string_view codeset);

// The locale of character types that the environment names: LC_ALL, else
// LC_CTYPE, else LANG (the first that is set and not empty); empty for none.
std::string_view environment_ctype_locale();

}  // namespace platform::posix
