// The console channel: messages for the person at the console, kept apart
// from the listing on standard output.
#pragma once

namespace marvix {

// Writes straight to standard error, unbuffered. A failed write is dropped:
// a message that cannot be shown must not change the run.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Waits for one key on the controlling terminal, read raw and without echo,
// and restores the terminal's mode afterwards. Returns at once when there is
// no terminal to read from.
void console_wait_key();

}  // namespace marvix
