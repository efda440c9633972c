# Cross-building for 32-bit x86 Linux (Debian: g++-i686-linux-gnu; never
# g++-multilib, which on Debian 12 removes the cross compilers), tested
# under qemu-i386.
set(MARVIX_CROSS_TRIPLET i686-linux-gnu)
set(MARVIX_CROSS_PROCESSOR i686)
set(MARVIX_CROSS_QEMU qemu-i386)
# The host's ld.so.cache would send the target's loader to the host's own
# 32-bit C library in /lib32, a different build of glibc, under which the
# first std::thread hangs: the target's libraries are named first.
set(MARVIX_CROSS_QEMU_EXTRA -E LD_LIBRARY_PATH=/usr/i686-linux-gnu/lib)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
