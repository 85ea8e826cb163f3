// Which console key records count as a key press: the per-scan-code classes of
// the keyboard for each modifier, and the enhanced keys that count without a
// character.
#include "services/key_classes.h"

#include <algorithm>
#include <array>

#include "platform/platform.h"

namespace {

// What a scan code gives with one modifier held.
enum class KeyRow : uint8_t { EMPTY, CHARACTER, EXTENDED };
using enum KeyRow;

enum KeyClass { NORMAL_CLASS, SHIFT_CLASS, CTRL_CLASS, ALT_CLASS };

constexpr uint16_t LAST_TABLE_SCAN_CODE = 88;

// Columns: normal, Shift, Ctrl, Alt. Rows: scan codes 0 to 88.
constexpr KeyRow EXT_KEY_TABLE[LAST_TABLE_SCAN_CODE + 1][4] = {
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 0
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 1 Esc
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 2 1
    { CHARACTER, CHARACTER, EXTENDED, EXTENDED },    // 3 2
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 4 3
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 5 4
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 6 5
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 7 6
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 8 7
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 9 8
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 10 9
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 11 0
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 12 -
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 13 =
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 14 Backspace
    { CHARACTER, EXTENDED, EXTENDED, EXTENDED },     // 15 Tab
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 16 Q
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 17 W
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 18 E
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 19 R
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 20 T
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 21 Y
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 22 U
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 23 I
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 24 O
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 25 P
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 26 [
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 27 ]
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 28 Enter
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 29 Ctrl
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 30 A
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 31 S
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 32 D
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 33 F
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 34 G
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 35 H
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 36 J
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 37 K
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 38 L
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 39 ;
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 40 '
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 41 `
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 42 left Shift
    { CHARACTER, CHARACTER, CHARACTER, EMPTY },      // 43 backslash
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 44 Z
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 45 X
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 46 C
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 47 V
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 48 B
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 49 N
    { CHARACTER, CHARACTER, CHARACTER, EXTENDED },   // 50 M
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 51 ,
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 52 .
    { CHARACTER, CHARACTER, EMPTY, EXTENDED },       // 53 /
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 54 right Shift
    { CHARACTER, EMPTY, CHARACTER, EMPTY },          // 55 keypad *
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 56 Alt
    { CHARACTER, CHARACTER, CHARACTER, CHARACTER },  // 57 Space
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 58 Caps Lock
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 59 F1
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 60 F2
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 61 F3
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 62 F4
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 63 F5
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 64 F6
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 65 F7
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 66 F8
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 67 F9
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 68 F10
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 69 Num Lock
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 70 Scroll Lock
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 71 keypad 7, Home
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 72 keypad 8, Up
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 73 keypad 9, Page Up
    { EMPTY, CHARACTER, EMPTY, EMPTY },              // 74 keypad -
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 75 keypad 4, Left
    { EXTENDED, CHARACTER, EXTENDED, EXTENDED },     // 76 keypad 5
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 77 keypad 6, Right
    { EMPTY, CHARACTER, EMPTY, EMPTY },              // 78 keypad +
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 79 keypad 1, End
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 80 keypad 2, Down
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 81 keypad 3, Page Down
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 82 keypad 0, Insert
    { EXTENDED, CHARACTER, EXTENDED, EMPTY },        // 83 keypad ., Delete
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 84 SysRq
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 85
    { EMPTY, EMPTY, EMPTY, EMPTY },                  // 86 102nd key
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 87 F11
    { EXTENDED, EXTENDED, EXTENDED, EXTENDED },      // 88 F12
};

// Enhanced keys that count even without a character: keypad Enter and /, and
// the navigation block.
constexpr std::array<uint16_t, 12> ENHANCED_KEY_TABLE = { 28, 53, 71, 72, 73, 75, 77, 79, 80, 81, 82, 83 };

constexpr uint32_t ALT_PRESSED = 0x0003;   // RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED
constexpr uint32_t CTRL_PRESSED = 0x000C;  // RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED
constexpr uint32_t SHIFT_PRESSED = 0x0010;
constexpr uint32_t ENHANCED_KEY = 0x0100;

KeyClass key_class(uint32_t control_key_state)
{
    if (control_key_state & ALT_PRESSED)
        return ALT_CLASS;
    if (control_key_state & CTRL_PRESSED)
        return CTRL_CLASS;
    if (control_key_state & SHIFT_PRESSED)
        return SHIFT_CLASS;
    return NORMAL_CLASS;
}

uint32_t swap_case(uint32_t ch)
{
    // The runtime's class table covers only single bytes.
    if (ch > 0xFF)
        return ch;
    int c = static_cast<int>(ch);
    if (platform::is_upper(c))
        return static_cast<uint32_t>(platform::to_lower(c));
    if (platform::is_lower(c))
        return static_cast<uint32_t>(platform::to_upper(c));
    return ch;
}

}  // namespace

bool is_key(uint8_t ch, uint16_t scan_code, uint16_t virtual_key, uint32_t control_key_state)
{
    if (ch == 0 && (control_key_state & ENHANCED_KEY))
        return std::ranges::find(ENHANCED_KEY_TABLE, scan_code) != ENHANCED_KEY_TABLE.end();
    if (scan_code > LAST_TABLE_SCAN_CODE)
        return ch != 0;

    uint32_t base = platform::map_virtual_key_to_char(virtual_key) & 0xFFFF;
    uint32_t other = swap_case(base);
    KeyClass modifier = key_class(control_key_state);
    bool extended = EXT_KEY_TABLE[scan_code][modifier] == EXTENDED && !(modifier == NORMAL_CLASS && ch != 0);
    if (extended && (ch == base || ch == other))
        return true;
    return ch != 0;
}
