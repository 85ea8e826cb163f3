// The console control handler of the key wait: a close, logoff or shutdown of
// the console counts as a key.
#pragma once

#include <cstdint>

// Installed with the platform; runs on a thread of the platform's making.
bool console_ctrl_handler(uint32_t ctrl_type);

// At the first call only: installs the handler and registers its removal with
// the at-exit list.
void install_ctrl_handler();

// Run by the at-exit list.
void remove_ctrl_handler();

void reset_ctrl_handler();
