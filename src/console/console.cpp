#include "console/console.h"

#include "text/terminal_text.h"

namespace marvix {

void console_write_external(const char* bytes, std::size_t size) {
  if (!console_is_terminal()) return console_print({bytes, size});
  char shown[kShownPiece];
  for (const char* end = bytes + size; bytes != end;) {
    const std::size_t length = make_terminal_safe(bytes, end, shown, sizeof shown);
    console_print({shown, length});
  }
}

}  // namespace marvix
