# Shared by the Linux cross toolchains (linux-aarch64.cmake and the
# others), which set MARVIX_CROSS_TRIPLET and MARVIX_CROSS_PROCESSOR first:
# Debian's cross compilers (g++-<triplet with dashes>) and their libraries
# under /usr/<triplet>, with the programs run by qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MARVIX_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${MARVIX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MARVIX_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${MARVIX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without binfmt_misc the host cannot start a foreign program itself: the
# tests run under qemu-user (Debian: qemu-user), which loads the target's
# dynamic libraries from /usr/<triplet> (-L).
set(CMAKE_CROSSCOMPILING_EMULATOR ${MARVIX_CROSS_QEMU} -L /usr/${MARVIX_CROSS_TRIPLET} ${MARVIX_CROSS_QEMU_EXTRA})
