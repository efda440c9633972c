# Cross-building for 32-bit Arm Linux with hardware floating point
# (Debian: g++-arm-linux-gnueabihf), tested under qemu-arm.
set(MARVIX_CROSS_TRIPLET arm-linux-gnueabihf)
set(MARVIX_CROSS_PROCESSOR arm)
set(MARVIX_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
