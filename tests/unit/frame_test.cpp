#include <csignal>

#include "frame/fault_filter.h"
#include "frame/process.h"
#include "services/console_output.h"
#include "services/dir_scan.h"
#include "services/file_channel.h"
#include "services/key_wait.h"
#include "services/std_handles.h"
#include "sim_test.h"

namespace {

class FrameTest : public SimTest { };

std::vector<std::string> calls_seen;
std::vector<int> signals_handled;

void note_signal(int signal_number)
{
    signals_handled.push_back(signal_number);
    EXPECT_EQ(sim::signal_disposition(signal_number), SIG_DFL);
}

TEST_F(FrameTest, StartUpRunsItsStepsInOrderThenExitsWithTheResult)
{
    sim::set_control_word(0x0009021F);  // 53-bit precision, rounding up
    sim::set_console_input_mode(0x1F6);
    int32_t status = -1;
    try {
        start_process([]() -> int32_t {
            calls_seen = sim::calls();
            platform::at_exit([] { calls_seen.push_back("at-exit after " + sim::calls().back()); });
            return 3;
        });
    } catch (const sim::ProcessExit& exit) {
        status = exit.status;
    }
    EXPECT_EQ(calls_seen,
        (std::vector<std::string>{ "__set_app_type", "SetUnhandledExceptionFilter", "fninit", "__getmainargs",
            "_controlfp", "GetStdHandle(input)", "GetStdHandle(output)", "GetConsoleMode", "SetConsoleMode",
            "at-exit after _cexit" }));
    EXPECT_EQ(sim::calls().back(), "ExitProcess");
    EXPECT_EQ(status, 3);
    EXPECT_EQ(sim::app_type(), 1);
    sim::set_signal_disposition(SIGSEGV, note_signal);  // the filter in force maps faults
    signals_handled.clear();
    EXPECT_EQ(sim::raise_fault(0xC0000005), EXCEPTION_CONTINUE_EXECUTION);
    EXPECT_EQ(signals_handled, std::vector<int>{ SIGSEGV });
    EXPECT_EQ(sim::control_word(), 0x0008001Fu);
    EXPECT_EQ(sim::console_input_mode(), 0x1F7u);
}

TEST_F(FrameTest, ControlWordGetsPrecisionAndRoundingOnly)
{
    const std::pair<uint32_t, uint32_t> words[] = {
        { 0x0008001F, 0x0008001F },
        { 0x0009021F, 0x0008001F },
        { 0x000B030A, 0x0008000A },  // unmasked exceptions stay unmasked
        { 0x000C0100, 0x000C0000 },
    };
    for (auto [before, after] : words) {
        SCOPED_TRACE(before);
        sim::set_control_word(before);
        init_services();
        EXPECT_EQ(sim::control_word(), after);
    }
}

TEST_F(FrameTest, ConsoleInputModeGetsProcessedInputOnlyOnAConsole)
{
    const platform::Handle file = reinterpret_cast<platform::Handle>(0x30);
    struct Row {
        const char* name;
        platform::Handle input;
        bool console;
        uint32_t before, after;
        int get_calls, set_calls;
    };
    const Row rows[] = {
        { "console", sim::STD_IN, true, 0x1F6, 0x1F7, 1, 1 },
        { "console, no bits", sim::STD_IN, true, 0x0, 0x1, 1, 1 },
        { "console, bit on", sim::STD_IN, true, 0x7, 0x7, 1, 1 },
        { "redirected file", file, false, 0x1F6, 0x1F6, 1, 0 },
        { "null", nullptr, true, 0x1F6, 0x1F6, 0, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::reset();
        sim::set_std_handle(platform::STD_INPUT, row.input);
        sim::set_std_handle(platform::STD_OUTPUT, row.input ? sim::STD_OUT : nullptr);
        sim::set_input_is_console(row.console);
        sim::set_console_input_mode(row.before);
        init_services();
        EXPECT_EQ(std_in_handle, row.input);
        EXPECT_EQ(std_out_handle, row.input ? sim::STD_OUT : nullptr);
        EXPECT_EQ(sim::console_input_mode(), row.after);
        EXPECT_EQ(sim::count_calls("GetConsoleMode"), row.get_calls);
        EXPECT_EQ(sim::count_calls("SetConsoleMode"), row.set_calls);
    }
}

void key_at_first_sleep(int sleeps)
{
    if (sleeps == 1)
        sim::queue_key('k');
}

// Every service leaves state behind in the process; a start finds each one as
// a fresh process has it.
TEST_F(FrameTest, InitServicesStartsEveryServiceAfresh)
{
    sim::make_console(10, 5, platform::Rect{ 0, 0, 9, 4 });
    print_line("x");  // the view read, the region fixed
    sim::queue_key('a');
    wait_key();               // the control handler installed
    console_ctrl_handler(2);  // a key marked while no wait runs
    sim::add_directory("C:\\D");
    sim::add_file("C:\\D\\f");
    sim::add_file("C:\\D\\g");
    EXPECT_EQ(dir_first("C:\\D\\*.*", 0x27), "f");  // a search open on the service's own state
    ASSERT_EQ(open_channel("a", MODE_OUTPUT, ACCESS_WRITE, 2, 1, 0, "ascii"), FILE_OK);

    restart();
    EXPECT_EQ(find_free_file_number(), 1);
    EXPECT_EQ(dir_next(), "");
    EXPECT_TRUE(sim::calls().empty());  // no search open, none to continue
    print_line("y");                    // no console now: the view is read again
    EXPECT_EQ(sim::stdout_bytes(), "y\r\n");
    sim::on_sleep(key_at_first_sleep);
    wait_key();
    EXPECT_EQ(sim::sleeps(), 1);  // the mark made before the start is gone
    EXPECT_EQ(sim::count_calls("SetConsoleCtrlHandler(add)"), 1);
    EXPECT_EQ(sim::at_exit_entries(), 1u);
}

TEST_F(FrameTest, FaultFilterMapsCodesToSignalDispositions)
{
    struct Row {
        uint32_t code;
        int signal_number;  // 0: not mapped
        bool resets_fpu;
    };
    const Row rows[] = {
        { 0xC0000005, SIGSEGV, false },
        { 0xC000008D, SIGFPE, true },
        { 0xC000008E, SIGFPE, true },
        { 0xC000008F, SIGFPE, true },
        { 0xC0000090, SIGFPE, true },
        { 0xC0000091, SIGFPE, true },
        { 0xC0000093, SIGFPE, true },
        { 0xC0000094, SIGFPE, false },
        { 0xC0000092, 0, false },  // FLT_STACK_CHECK
        { 0xC0000095, 0, false },  // INT_OVERFLOW
        { 0xC000008C, 0, false },
        { 0xC00000FD, 0, false },
        { 0x80000003, 0, false },
    };
    const platform::SignalHandler dispositions[] = { SIG_IGN, SIG_DFL, note_signal };
    for (const Row& row : rows) {
        for (platform::SignalHandler disposition : dispositions) {
            SCOPED_TRACE(testing::Message() << std::hex << row.code << " disposition "
                                            << (disposition == SIG_IGN          ? "ignore"
                                                       : disposition == SIG_DFL ? "default"
                                                                                : "handler"));
            sim::reset();
            signals_handled.clear();
            sim::set_signal_disposition(SIGSEGV, disposition);
            sim::set_signal_disposition(SIGFPE, disposition);
            int32_t answer = fault_filter(row.code);
            if (row.signal_number == 0) {
                EXPECT_EQ(answer, EXCEPTION_CONTINUE_SEARCH);
                EXPECT_TRUE(sim::calls().empty());
                EXPECT_TRUE(signals_handled.empty());
                continue;
            }
            int other = row.signal_number == SIGSEGV ? SIGFPE : SIGSEGV;
            EXPECT_EQ(sim::signal_disposition(other), disposition);
            bool ignore = disposition == SIG_IGN, handler = disposition == note_signal;
            EXPECT_EQ(answer, ignore || handler ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH);
            EXPECT_EQ(sim::signal_disposition(row.signal_number), ignore ? SIG_IGN : SIG_DFL);
            EXPECT_EQ(sim::count_calls("fninit"), ignore && row.resets_fpu ? 1 : 0);
            EXPECT_EQ(signals_handled, handler ? std::vector<int>{ row.signal_number } : std::vector<int>{});
        }
    }
}

TEST_F(FrameTest, EndProcessClosesFilesBeforeRemovingTheCtrlHandler)
{
    // Registered as the key wait does at the first wait, before the first open.
    platform::at_exit([] {
        calls_seen = sim::calls();
        EXPECT_EQ(sim::file_contents("left.txt"), "pending");
        EXPECT_EQ(sim::open_streams(), 0);
    });
    ASSERT_EQ(open_channel("left.txt", MODE_OUTPUT, ACCESS_WRITE, 2, 1, 0, "ascii"), FILE_OK);
    ASSERT_EQ(put_bytes(1, 0, "pending"), FILE_OK);
    calls_seen.clear();
    try {
        end_process(0);
    } catch (const sim::ProcessExit& exit) {
        EXPECT_EQ(exit.status, 0);
    }
    ASSERT_FALSE(calls_seen.empty());
    EXPECT_EQ(calls_seen.back(), "fclose");
    EXPECT_EQ(sim::count_calls("exit"), 1);
}

}  // namespace
