// The entry point on Windows (linked with -municode): the arguments come as
// UTF-16, so that no name is narrowed through the ANSI code page into a
// look-alike or question marks, and the run takes them as UTF-8.
#include "main/run.h"
#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) {
  marvix::Arguments arguments;
  const bool converted = marvix::utf8_arguments(argc, argv, arguments);
  return marvix::run(arguments.count, converted ? arguments.values.get() : nullptr);
}
