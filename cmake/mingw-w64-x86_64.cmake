# Cross-building marvix.exe for 64-bit Windows with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-posix). The -posix compilers have the thread model
# that std::mutex, and so GoogleTest, need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: no MinGW DLL has to travel with the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under Wine where it is installed (Debian: wine64).
find_program(MARVIX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(MARVIX_WINE NAMES wine64 wine)
if(MARVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MARVIX_WINE})
endif()
