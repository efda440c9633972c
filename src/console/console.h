// The console channel: messages for the person at the console, kept apart
// from the listing on standard output.
#pragma once

#include <cstddef>

// printf-style checking of the format against its arguments, where the
// compiler offers it.
#if defined(__GNUC__)
#define MARVIX_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define MARVIX_PRINTF_FORMAT(format_index, first_argument)
#endif

namespace marvix {

// Writes straight to the console (standard error on POSIX), unbuffered. A
// failed write is dropped: a message that cannot be shown must not change
// the run.
void console_print(const char* format, ...) MARVIX_PRINTF_FORMAT(1, 2);

// Writes bytes as they stand, on the same terms as console_print.
void console_write(const char* bytes, std::size_t size);

// True when there is a terminal to wait on (opened on first use, kept).
bool console_can_wait();

// Waits for one key on the controlling terminal, read raw and without echo,
// and restores the terminal's mode afterwards. Returns at once when there is
// no terminal to read from.
void console_wait_key();

}  // namespace marvix
