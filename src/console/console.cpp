#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/terminal_text.h"

namespace marvix {

void console_print(const char* format, ...) {
  char text[kShownPiece];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);  // cut at the end of `text`, always terminated
  va_end(args);
  console_write(text, std::strlen(text));
}

void console_write_external(const char* bytes, std::size_t size) {
  if (!console_is_terminal()) return console_write(bytes, size);
  char shown[kShownPiece];
  for (const char* end = bytes + size; bytes != end;) {
    console_write(shown, make_terminal_safe(bytes, end, shown, sizeof shown));
  }
}

}  // namespace marvix
