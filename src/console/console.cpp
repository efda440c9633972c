#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

namespace marvix {

void console_print(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
    console_write(small, static_cast<std::size_t>(length));
  } else if (length > 0) {
    // An undefined-entry text can run to megabytes; it is written whole.
    const auto size = static_cast<std::size_t>(length) + 1;
    std::unique_ptr<char[]> big(new (std::nothrow) char[size]);
    if (big) {
      std::vsnprintf(big.get(), size, format, again);
      console_write(big.get(), size - 1);
    }
  }
  va_end(again);
}

}  // namespace marvix
