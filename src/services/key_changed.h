// The key wait's mark: set when a key is seen, by the input drain or by the
// console control handler on the platform's thread; read and cleared only by
// the wait's poll.
#pragma once

#include <atomic>

extern std::atomic<bool> key_changed;
