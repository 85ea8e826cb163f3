// Text for a terminal: the code page's bytes in the locale's character set,
// and what a terminal receives from a write to it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/terminal_text.h"

namespace {

using platform::posix::NameConverter;
using platform::posix::TerminalText;

const char* const ASCII = "ANSI_X3.4-1968";

TEST(PosixTerminalText, ConversionAndWhatTakesAQuestionMark)
{
    NameConverter names(1252);
    TerminalText utf8(names, "UTF-8");
    TerminalText ascii(names, ASCII);
    TerminalText latin1(names, "ISO-8859-1");
    TerminalText unknown(names, "NO-SUCH-CHARSET");
    struct Case {
        const char* what;
        std::string ansi;
        std::string utf8;
        std::string ascii;
        std::string latin1;
    };
    const Case cases[] = {
        { "plain", "Textures/a.dds", "Textures/a.dds", "Textures/a.dds", "Textures/a.dds" },
        { "accented", "Caf\xE9/cr\xE8me.dds", "Caf\xC3\xA9/cr\xC3\xA8me.dds", "Caf?/cr?me.dds",
            "Caf\xE9/cr\xE8me.dds" },
        { "euro sign", "\x80", "\xE2\x82\xAC", "?", "?" },
        { "undefined in the code page",
            "a\x81\x8D\x8F\x90\x9D"
            "b",
            "a?????b", "a?????b", "a?????b" },
        { "control bytes", "a\x1B[2Jb\x08\x07\x09\x7F", "a?[2Jb????", "a?[2Jb????", "a?[2Jb????" },
        { "line ends kept", "\r", "\r", "\r", "\r" },
        { "longer than a chunk", std::string(300, '\xE9'),
            [] {
                std::string s;
                for (int i = 0; i < 300; ++i)
                    s += "\xC3\xA9";
                return s;
            }(),
            std::string(300, '?'), std::string(300, '\xE9') },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(utf8.convert(c.ansi), c.utf8);
        EXPECT_EQ(ascii.convert(c.ansi), c.ascii);
        EXPECT_EQ(latin1.convert(c.ansi), c.latin1);
        EXPECT_EQ(unknown.convert(c.ansi), c.ascii);
        EXPECT_EQ(TerminalText::shown_as_is(c.ansi), c.ansi == c.ascii && c.ansi == c.utf8);
    }
}

TEST(PosixTerminalText, DoubleByteCodePage)
{
    // Shift-JIS: a lead byte takes the next byte, ASCII or not, as its second.
    NameConverter names(932);
    TerminalText utf8(names, "utf8");
    EXPECT_EQ(utf8.convert("\x83\x41/x"), "\xE3\x82\xA2/x");
    EXPECT_EQ(utf8.convert("x\x83"), "x?");
}

class Environment {
public:
    explicit Environment(const char* name)
        : name_(name)
    {
        if (const char* value = std::getenv(name))
            saved_ = value;
    }
    ~Environment()
    {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(PosixTerminalText, CharsetOfTheLocale)
{
    Environment all("LC_ALL"), ctype("LC_CTYPE"), lang("LANG");
    struct Case {
        const char* lc_all;
        const char* lang;
        const char* charset;
    };
    const Case cases[] = {
        { "C.UTF-8", nullptr, "UTF-8" },
        { nullptr, "C.UTF-8", "UTF-8" },
        { "C", "C.UTF-8", ASCII },
        { "POSIX", nullptr, ASCII },
        { nullptr, nullptr, ASCII },
        { "xx_NOWHERE.UTF-8", nullptr, "UTF-8" },  // not installed: the name's codeset
        { "xx_NOWHERE.ISO-8859-15@euro", nullptr, "ISO-8859-15" },
        { "xx_NOWHERE", nullptr, ASCII },
    };
    unsetenv("LC_CTYPE");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lc_all ? c.lc_all : "-") + " " + (c.lang ? c.lang : "-"));
        c.lc_all ? setenv("LC_ALL", c.lc_all, 1) : unsetenv("LC_ALL");
        c.lang ? setenv("LANG", c.lang, 1) : unsetenv("LANG");
        EXPECT_EQ(platform::posix::locale_charset(), c.charset);
    }
}

// In a child of its own: the program's standard output is the terminal, and
// the process's terminal text follows its locale at the first write.
std::string written_through(bool to_terminal, const std::string& ansi)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    pid_t child = fork();
    if (child == 0) {
        setenv("LC_ALL", "C.UTF-8", 1);
        dup2(to_terminal ? slave : ends[1], STDOUT_FILENO);
        uint32_t written = 0;
        bool ok = platform::write_file(
            platform::get_std_handle(platform::STD_OUTPUT), ansi.data(), static_cast<uint32_t>(ansi.size()), &written);
        platform::posix::write_out_echo();
        _exit(ok && written == ansi.size() ? 0 : 1);
    }
    close(ends[1]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(slave);
    std::string got;
    char buffer[256];
    int from = to_terminal ? master : ends[0];
    ssize_t n;
    while ((n = read(from, buffer, sizeof buffer)) > 0)
        got.append(buffer, static_cast<std::size_t>(n));
    close(master);
    close(ends[0]);
    return got;
}

TEST(PosixTerminalText, ATerminalGetsItsCharsetAPipeTheBytes)
{
    // The terminal's own output processing is left as it is: "\n" reaches the
    // reader as "\r\n".
    std::string ansi = "Caf\xE9/cr\xE8me.dds";
    EXPECT_EQ(written_through(true, ansi), "Caf\xC3\xA9/cr\xC3\xA8me.dds");
    EXPECT_EQ(written_through(false, ansi), ansi);
}

}  // namespace
