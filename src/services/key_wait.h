// Key wait: holds the tool until the user presses a key on the console.
#pragma once

#include <cstdint>

void wait_key();

// The console control handler, installed at the first poll; runs on a thread
// of the platform's making. A close, logoff or shutdown counts as a key.
bool console_ctrl_handler(uint32_t ctrl_type);

// Run by the at-exit list: uninstalls the control handler if it was installed.
void remove_ctrl_handler();

// The service as a fresh process has it: no key seen, no handler installed.
void init_key_wait();
