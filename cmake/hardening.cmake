# The defences every target is built with, since the tool parses files
# from outside: the stack protector, control-flow protection, fortified C
# library calls and -z relro -z now, each where the compiler and linker
# take it; MARVIX_PIE where the tool is to be a position-independent
# executable.
#
# They go in front of the flags from the environment. GCC, clang and the
# linker take the last of two flags that contradict each other, so what a
# distribution or a user asks for in CXXFLAGS, CPPFLAGS or LDFLAGS wins
# (-fno-stack-protector, -fcf-protection=none, -U_FORTIFY_SOURCE,
# -Wl,-z,lazy) without being looked for here.

# CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS, where distributions
# put -D_FORTIFY_SOURCE among others: they go after CXXFLAGS, unless they
# are there already (debhelper, for one, appends them itself).
string(STRIP "$ENV{CPPFLAGS}" MARVIX_CPPFLAGS)
string(FIND " ${CMAKE_CXX_FLAGS} " " ${MARVIX_CPPFLAGS} " MARVIX_CPPFLAGS_AT)
if(MARVIX_CPPFLAGS AND MARVIX_CPPFLAGS_AT EQUAL -1)
  string(APPEND CMAKE_CXX_FLAGS " ${MARVIX_CPPFLAGS}")
endif()

# Not for the sanitizer and fuzzing builds, whose instrumentation the
# fortified functions would bypass.
set(MARVIX_PIE OFF)
if(MARVIX_HARDEN AND NOT MARVIX_SANITIZE AND NOT MARVIX_FUZZ
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  include(CheckCXXSourceCompiles)
  include(CheckLinkerFlag)
  include(CheckPIESupported)
  if(NOT WIN32)
    # ELF only: a Windows executable is relocatable as it is (the linker's
    # --dynamicbase), and Windows makes no use of the IBT marks.
    check_pie_supported(LANGUAGES CXX)
    set(MARVIX_PIE ${CMAKE_CXX_LINK_PIE_SUPPORTED})
    check_cxx_compiler_flag(-fcf-protection MARVIX_HAS_CF_PROTECTION)
    check_linker_flag(CXX "-Wl,-z,relro,-z,now" MARVIX_HAS_RELRO_NOW)
  endif()
  # Tried on a function that the stack protector guards, compiled and
  # linked with it: MinGW-w64's guard and check routine are not in its C
  # library but in GCC's libssp, which the driver then links.
  set(CMAKE_REQUIRED_FLAGS -fstack-protector-strong)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fstack-protector-strong)
  check_cxx_source_compiles("#include <cstring>\nint main(int argc, char** argv) {\n  char copy[64];\n  std::strncpy(copy, argv[0], sizeof copy);\n  return copy[argc % 64];\n}"
                            MARVIX_HAS_STACK_PROTECTOR)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  # Fortified functions need optimisation, and a second definition of
  # _FORTIFY_SOURCE is warned about even where the later one wins: only
  # where the compiler, given the flags and the build type's, optimises and
  # defines none itself.
  set(CMAKE_TRY_COMPILE_CONFIGURATION ${CMAKE_BUILD_TYPE})
  check_cxx_source_compiles("#if !defined(__OPTIMIZE__) || defined(_FORTIFY_SOURCE)\n#error\n#endif\nint main() {}"
                            MARVIX_FORTIFY_${CMAKE_BUILD_TYPE})
  unset(CMAKE_TRY_COMPILE_CONFIGURATION)
  if(MARVIX_FORTIFY_${CMAKE_BUILD_TYPE})
    string(PREPEND CMAKE_CXX_FLAGS "-D_FORTIFY_SOURCE=2 ")
  endif()
  if(MARVIX_HAS_CF_PROTECTION)
    string(PREPEND CMAKE_CXX_FLAGS "-fcf-protection ")
  endif()
  if(MARVIX_HAS_STACK_PROTECTOR)
    string(PREPEND CMAKE_CXX_FLAGS "-fstack-protector-strong ")
  endif()
  if(MARVIX_HAS_RELRO_NOW)
    string(PREPEND CMAKE_EXE_LINKER_FLAGS "-Wl,-z,relro,-z,now ")
  endif()
  if(WIN32 AND (MARVIX_HAS_STACK_PROTECTOR OR MARVIX_FORTIFY_${CMAKE_BUILD_TYPE}))
    # MinGW-w64's headers fortify string.h, stdio.h and io.h, but the
    # checked functions they call (__memcpy_chk, __chk_fail) are libssp's
    # too, and the driver links it for the stack protector alone. The
    # toolchain's -static takes libssp.a: marvix.exe needs no libssp-0.dll.
    # libssp seeds the guard with CryptGenRandom, from ADVAPI32.dll, which
    # is part of Windows.
    string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lssp")
  endif()
endif()
