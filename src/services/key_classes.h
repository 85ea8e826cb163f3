// Which console key records count as a key press for the key wait.
#pragma once

#include <cstdint>

// A key record's 8-bit character, scan code, virtual-key code and control-key
// state: true if the record is a key.
bool is_key(uint8_t ch, uint16_t scan_code, uint16_t virtual_key, uint32_t control_key_state);
