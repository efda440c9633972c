# Cross-building for IBM Z Linux (Debian: g++-s390x-linux-gnu), the
# big-endian target, tested under qemu-s390x.
set(MARVIX_CROSS_TRIPLET s390x-linux-gnu)
set(MARVIX_CROSS_PROCESSOR s390x)
set(MARVIX_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
