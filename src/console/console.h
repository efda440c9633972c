// The console channel: messages for the person at the console, kept apart
// from the listing on standard output, and the key wait of the pager.
#pragma once

#include <cstddef>
#include <string_view>

namespace marvix {

// Writes text as it stands straight to the console (standard error on
// POSIX), unbuffered and without allocating. A message with a part from
// outside is written in pieces, the outside part through
// console_write_external. A failed write is dropped: a message that cannot
// be shown must not change the run.
void console_print(std::string_view text);

// Writes bytes that come from outside (a file name, a text from the debug
// file), whole and without a copy, on the same terms; where the console is
// a terminal, control bytes are shown safely (see terminal_text.h).
void console_write_external(const char* bytes, std::size_t size);

// Whether the console channel reaches a terminal.
bool console_is_terminal();

// True when there is a terminal to wait on (opened on first use, kept).
bool console_can_wait();

// Only where console_can_wait(): writes the prompt on the terminal that the
// key is read from, so that it shows wherever standard error goes, and
// waits for one key, read raw and without echo; the terminal's mode is the
// same afterwards.
void console_pause(std::string_view prompt);

}  // namespace marvix
