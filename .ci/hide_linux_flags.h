// Force-included by CI's portability build, as a stand-in for macOS and
// FreeBSD: the system headers as usual, then without the flags that only
// Linux has, so that every use of them must sit under #ifdef.
#include <fcntl.h>
#include <sys/mman.h>
#undef MADV_HUGEPAGE
