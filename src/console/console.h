// The console channel: messages for the person at the console, kept apart
// from the listing on standard output, and the key wait of the pager.
#pragma once

#include <cstddef>
#include <string_view>

namespace marvix {

struct CodePage;

// Writes text as it stands straight to the console (standard error on
// POSIX), unbuffered and without allocating. A message with a part from
// outside is written in pieces, the outside part through
// console_write_external. A failed write is dropped: a message that cannot
// be shown must not change the run.
void console_print(std::string_view text);

// Writes bytes that come from outside (a file name, a text from the debug
// file), whole and without a copy, on the same terms; where the console is
// a terminal, control bytes are shown safely (see terminal_text.h). The
// bytes are taken as UTF-8, as a file name is on every system.
void console_write_external(const char* bytes, std::size_t size);

// The same for text from the debug file, which is in whatever encoding its
// assembler wrote: a Windows console shows its bytes through the console's
// code page (console_code_page), as it shows the listing. Elsewhere the
// same as console_write_external.
void console_write_file_text(const char* bytes, std::size_t size);

// The code page through which the console shows bytes, made once from a
// Windows console's output code page; null where bytes are taken as UTF-8
// (a terminal elsewhere, a console in code page 65001) or where the code
// page cannot be read or has characters of more than two bytes.
const CodePage* console_code_page();

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
