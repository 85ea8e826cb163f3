#include "services/key_wait.h"

#include <thread>
#include <utility>

#include "services/key_classes.h"
#include "sim_test.h"

namespace {

constexpr uint32_t LEFT_ALT = 0x02;
constexpr uint32_t RIGHT_ALT = 0x01;
constexpr uint32_t LEFT_CTRL = 0x08;
constexpr uint32_t RIGHT_CTRL = 0x04;
constexpr uint32_t SHIFT = 0x10;
constexpr uint32_t NUMLOCK = 0x20;
constexpr uint32_t CAPSLOCK = 0x80;
constexpr uint32_t ENHANCED = 0x100;

using Ranges = std::vector<std::pair<int, int>>;

bool in_ranges(const Ranges& ranges, int value)
{
    for (auto [first, last] : ranges)
        if (value >= first && value <= last)
            return true;
    return false;
}

// A scan code without a character of its own (virtual key 0 maps to none)
// counts exactly where its row is extended in the modifier's class.
TEST_F(SimTest, KeyWithoutCharacterCountsWhereTheClassRowIsExtended)
{
    const struct {
        const char* name;
        uint32_t state;
        Ranges extended;
    } classes[] = {
        { "normal", 0, { { 59, 68 }, { 71, 73 }, { 75, 77 }, { 79, 83 }, { 87, 88 } } },
        { "Shift", SHIFT, { { 15, 15 }, { 59, 68 }, { 87, 88 } } },
        { "Ctrl", RIGHT_CTRL, { { 3, 3 }, { 15, 15 }, { 59, 68 }, { 71, 73 }, { 75, 77 }, { 79, 83 }, { 87, 88 } } },
        { "Alt", RIGHT_ALT | SHIFT | LEFT_CTRL,
            { { 1, 28 }, { 30, 41 }, { 44, 53 }, { 59, 68 }, { 76, 76 }, { 87, 88 } } },
    };
    for (const auto& c : classes) {
        for (int scan = 0; scan <= 88; ++scan) {
            SCOPED_TRACE(std::string(c.name) + " scan " + std::to_string(scan));
            EXPECT_EQ(is_key(0, scan, 0, c.state), in_ranges(c.extended, scan));
            EXPECT_TRUE(is_key('x', scan, 0, c.state));
        }
    }
}

TEST_F(SimTest, EnhancedKeysWithoutCharacterCountOnlyForTheTwelve)
{
    const Ranges twelve = { { 28, 28 }, { 53, 53 }, { 71, 73 }, { 75, 75 }, { 77, 77 }, { 79, 83 } };
    for (uint32_t state : { ENHANCED, ENHANCED | SHIFT, ENHANCED | LEFT_ALT | NUMLOCK }) {
        for (int scan = 0; scan <= 100; ++scan) {
            SCOPED_TRACE("state " + std::to_string(state) + " scan " + std::to_string(scan));
            EXPECT_EQ(is_key(0, scan, 0, state), in_ranges(twelve, scan));
        }
    }
}

TEST_F(SimTest, KeysThatCountAndKeysThatDoNot)
{
    const struct {
        const char* name;
        uint8_t ch;
        uint16_t scan;
        uint16_t vk;
        uint32_t state;
        bool expected;
    } rows[] = {
        { "a", 'a', 0x1E, 0x41, 0, true },
        { "Esc", 0x1B, 0x01, 0x1B, 0, true },
        { "Esc without its character, as Wine gives it", 0, 0x01, 0x1B, 0, false },
        { "F1", 0, 0x3B, 0x70, 0, true },
        { "Alt+F12", 0, 0x58, 0x7B, LEFT_ALT, true },
        { "Up without the enhanced flag, as Wine gives it", 0, 0x48, 0x26, 0, true },
        { "Ctrl+Up", 0, 0x48, 0x26, LEFT_CTRL, true },
        { "Right", 0, 0x4D, 0x27, ENHANCED, true },
        { "keypad 4 with Shift, no character", 0, 0x4B, 0x25, SHIFT, false },
        { "keypad 7 with Num Lock", '7', 0x47, 0x67, NUMLOCK, true },
        { "Alt+a, character equal to the key's own", 'a', 0x1E, 0x41, LEFT_ALT, true },
        { "Ctrl+2 without a character", 0, 0x03, 0x32, LEFT_CTRL, false },
        { "left Shift", 0, 0x2A, 0x10, SHIFT, false },
        { "right Shift", 0, 0x36, 0x10, SHIFT, false },
        { "left Ctrl", 0, 0x1D, 0x11, LEFT_CTRL, false },
        { "right Ctrl", 0, 0x1D, 0x11, RIGHT_CTRL | ENHANCED, false },
        { "left Alt", 0, 0x38, 0x12, LEFT_ALT, false },
        { "right Alt", 0, 0x38, 0x12, RIGHT_ALT | ENHANCED, false },
        { "Caps Lock", 0, 0x3A, 0x14, CAPSLOCK, false },
        { "Num Lock", 0, 0x45, 0x90, NUMLOCK, false },
        { "Scroll Lock", 0, 0x46, 0x91, 0, false },
        { "Windows logo key", 0, 0x5B, 0x5B, ENHANCED, false },
        { "scan code above the table, no character", 0, 0x59, 0x0C, 0, false },
        { "scan code above the table, a character", 'x', 0x70, 0, 0, true },
        { "a typed character without a key", 0x82, 0, 0, 0, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(is_key(row.ch, row.scan, row.vk, row.state), row.expected);
    }
}

platform::InputRecord press(uint8_t ch, uint16_t vk = 0x41, uint16_t scan = 0x1E, uint32_t state = 0)
{
    return sim::key_record(true, ch, vk, scan, state);
}

platform::InputRecord release(uint8_t ch, uint16_t vk = 0x41, uint16_t scan = 0x1E, uint32_t state = 0)
{
    return sim::key_record(false, ch, vk, scan, state);
}

// Alt held with Num Lock on; keypad digits come with no character.
const platform::InputRecord ALT_DOWN = press(0, 0x12, 0x38, LEFT_ALT | NUMLOCK);
const platform::InputRecord ALT_UP = release(0, 0x12, 0x38, NUMLOCK);
platform::InputRecord alt_keypad(int digit)
{
    static const uint16_t scans[] = { 0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49 };
    return press(0, static_cast<uint16_t>(0x60 + digit), scans[digit], LEFT_ALT | NUMLOCK);
}

void queue_all(std::initializer_list<platform::InputRecord> records)
{
    for (const auto& r : records)
        sim::queue_input(r);
}

// A key arrives at the third sleep.
void key_at_third_sleep(int sleeps)
{
    if (sleeps == 3)
        sim::queue_key('z');
}

TEST_F(SimTest, TypeAheadEndsTheWaitAtOnceAndItsLateReleaseIsIgnored)
{
    sim::queue_input(press('a'));
    wait_key();
    EXPECT_EQ(sim::sleeps(), 0);
    sim::queue_input(release('a'));
    sim::on_sleep(key_at_third_sleep);
    wait_key();
    EXPECT_EQ(sim::sleeps(), 3);
    EXPECT_EQ(sim::pending_input(), 0u);
}

TEST_F(SimTest, KeysArrivingBetweenWaitsEndTheNextWaitAtOnce)
{
    sim::queue_input(press('a'));
    wait_key();
    queue_all({ sim::key_record(true, 'a', 0x41, 0x1E, 0, 3), release('a') });  // auto-repeat, then release
    wait_key();
    EXPECT_EQ(sim::sleeps(), 0);
    sim::on_sleep(key_at_third_sleep);
    wait_key();  // one mark for the repeated press: this wait waits
    EXPECT_EQ(sim::sleeps(), 3);
}

// The Alt release comes at the second sleep, a plain key at the fourth.
void alt_release_then_key(int sleeps)
{
    if (sleeps == 2)
        sim::queue_input(ALT_UP);
    if (sleeps == 4)
        sim::queue_key('z');
}

TEST_F(SimTest, AltKeypadCompositionCompletesOnTheAltRelease)
{
    const struct {
        const char* name;
        std::vector<int> digits;
        bool completes;
    } rows[] = {
        { "64", { 6, 4 }, true },
        { "zeros", { 0, 0 }, false },
        { "1 and 40 more digits", std::vector<int>(41, 1), true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        sim::queue_input(ALT_DOWN);
        for (int digit : row.digits)
            queue_all({ alt_keypad(digit), release(0, 0x60 + digit, 0x4D, LEFT_ALT | NUMLOCK) });
        sim::on_sleep(alt_release_then_key);
        wait_key();
        EXPECT_EQ(sim::sleeps(), row.completes ? 2 : 4);
        if (row.completes) {
            wait_key();  // completed once: the plain key ends the next wait
            EXPECT_EQ(sim::sleeps(), 4);
        }
    }
}

void key_at_first_sleep(int sleeps)
{
    if (sleeps == 1)
        sim::queue_key('z');
}

TEST_F(SimTest, RecordsThatAreNotKeysAreReadAndIgnored)
{
    platform::InputRecord other{};
    for (uint16_t type : { 0x0002, 0x0004, 0x0008, 0x0010 }) {  // mouse, buffer size, menu, focus
        other.event_type = type;
        sim::queue_input(other);
    }
    queue_all({ sim::key_record(true, 'a', 0x41, 0x1E, 0, 0), release('b') });
    sim::on_sleep(key_at_first_sleep);
    wait_key();
    EXPECT_EQ(sim::sleeps(), 1);
    EXPECT_EQ(sim::pending_input(), 0u);
}

TEST_F(SimTest, FailedReadLeavesTheKeyForTheNextPoll)
{
    sim::queue_key('a');
    sim::fail_input_reads(1);
    wait_key();
    EXPECT_EQ(sim::sleeps(), 1);
    EXPECT_EQ(sim::count_calls("PeekConsoleInputA"), 4);  // the failed round; key, release, empty
    EXPECT_EQ(sim::pending_input(), 0u);
    sim::on_sleep(key_at_third_sleep);
    wait_key();  // the key was marked once
    EXPECT_EQ(sim::sleeps(), 3);
}

bool close_result = false;

void close_from_another_thread_at_fifth_sleep(int sleeps)
{
    if (sleeps == 5)
        std::thread([] { close_result = sim::raise_ctrl_event(2); }).join();
}

TEST_F(SimTest, InputThatIsNotAConsoleNeverGivesAKey)
{
    for (bool null_handle : { false, true }) {
        SCOPED_TRACE(null_handle ? "null handle" : "redirected");
        restart();
        if (null_handle)
            sim::set_std_handle(platform::STD_INPUT, nullptr);
        else
            sim::set_input_is_console(false);
        init_services();
        sim::queue_key('a');
        EXPECT_THROW(wait_key(), sim::Stuck);
        EXPECT_EQ(sim::pending_input(), 2u);
    }
}

TEST_F(SimTest, CloseEventFromThePlatformThreadEndsTheWait)
{
    sim::set_input_is_console(false);
    close_result = false;
    sim::on_sleep(close_from_another_thread_at_fifth_sleep);
    wait_key();
    EXPECT_EQ(sim::sleeps(), 5);
    EXPECT_TRUE(close_result);
}

TEST_F(SimTest, ControlHandlerTakesCloseLogoffAndShutdownOnly)
{
    for (uint32_t type : { 0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 31u, 32u, 0xFFFFFFFFu }) {
        SCOPED_TRACE(type);
        restart();
        bool handled = type == 2 || type == 5 || type == 6;
        EXPECT_EQ(console_ctrl_handler(type), handled);
        sim::on_sleep(key_at_first_sleep);
        wait_key();
        EXPECT_EQ(sim::sleeps(), handled ? 0 : 1);
    }
}

TEST_F(SimTest, ControlHandlerIsInstalledAtTheFirstPollOnceAndRemovedAtExit)
{
    remove_ctrl_handler();  // before any wait: nothing to remove
    EXPECT_EQ(sim::count_calls("SetConsoleCtrlHandler(remove)"), 0);
    EXPECT_FALSE(sim::has_ctrl_handler());
    EXPECT_FALSE(sim::raise_ctrl_event(2));
    sim::queue_key('a');
    sim::queue_key('b');
    wait_key();
    sim::on_sleep(key_at_first_sleep);
    wait_key();
    EXPECT_TRUE(sim::has_ctrl_handler());
    const std::vector<std::string> first = { "atexit", "SetConsoleCtrlHandler(add)", "PeekConsoleInputA" };
    ASSERT_GE(sim::calls().size(), first.size());
    EXPECT_EQ(std::vector<std::string>(sim::calls().begin(), sim::calls().begin() + 3), first);
    EXPECT_EQ(sim::count_calls("SetConsoleCtrlHandler(add)"), 1);
    EXPECT_EQ(sim::at_exit_entries(), 1u);

    EXPECT_THROW(platform::exit_process(0), sim::ProcessExit);
    EXPECT_FALSE(sim::has_ctrl_handler());
    EXPECT_EQ(sim::count_calls("SetConsoleCtrlHandler(remove)"), 1);
}

}  // namespace
