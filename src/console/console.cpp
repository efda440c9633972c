#include "console/console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "console/terminal_text.h"

namespace marvix {

void console_print(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length > 0) console_write(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

void console_write_external(const char* bytes, std::size_t size) {
  if (!console_is_terminal()) {
    console_write(bytes, size);
    return;
  }
  char shown[4096];
  for (const char* end = bytes + size; bytes != end;) {
    console_write(shown, make_terminal_safe(bytes, end, shown, sizeof shown));
  }
}

}  // namespace marvix
