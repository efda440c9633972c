# Cross-building for 64-bit Arm Linux (Debian: g++-aarch64-linux-gnu),
# tested under qemu-aarch64.
set(MARVIX_CROSS_TRIPLET aarch64-linux-gnu)
set(MARVIX_CROSS_PROCESSOR aarch64)
set(MARVIX_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
