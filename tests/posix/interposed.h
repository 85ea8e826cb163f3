// C library calls that a case arms to misbehave once, to reach a moment that
// timing alone cannot: a signal in the middle of a call. Unarmed, they pass
// each call on to the library.
#pragma once

namespace interposed {

// The next tcsetattr raises `signal_number` first, then sets the mode.
void raise_at_next_tcsetattr(int signal_number);

// The next write to `fd` raises `signal_number` (none if 0) and fails with
// `error`, writing nothing: a write that a signal cut short, or one that found
// no room on a descriptor that does not block.
void fail_next_write(int fd, int error, int signal_number);

}  // namespace interposed
