# The distribution's preprocessor flags, and the defences the tool is built
# with: MARVIX_HARDENING_COMPILE and MARVIX_HARDENING_LINK, and MARVIX_PIE
# where the tool is to be a position-independent executable.

# CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS, where distributions
# put -D_FORTIFY_SOURCE among others; fold them in unless they already are
# (debhelper, for one, appends them to CXXFLAGS itself).
if(DEFINED ENV{CPPFLAGS})
  string(STRIP "$ENV{CPPFLAGS}" MARVIX_CPPFLAGS)
  string(FIND " ${CMAKE_CXX_FLAGS} " " ${MARVIX_CPPFLAGS} " MARVIX_CPPFLAGS_AT)
  if(MARVIX_CPPFLAGS AND MARVIX_CPPFLAGS_AT EQUAL -1)
    string(APPEND CMAKE_CXX_FLAGS " ${MARVIX_CPPFLAGS}")
  endif()
endif()

# The tool parses files from outside: it gets the usual defences where the
# compiler and linker take them. A defence that the flags from the
# environment already set (or turn off) is left to them. Not for the
# sanitizer and fuzzing builds, whose instrumentation the fortified
# functions would bypass, and not for Windows, where MinGW's stack
# protector needs a library of its own.
set(MARVIX_HARDENING_COMPILE)
set(MARVIX_HARDENING_LINK)
set(MARVIX_PIE OFF)
if(MARVIX_HARDEN AND NOT WIN32 AND NOT MARVIX_SANITIZE AND NOT MARVIX_FUZZ
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  include(CheckCXXSourceCompiles)
  include(CheckLinkerFlag)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(MARVIX_PIE ${CMAKE_CXX_LINK_PIE_SUPPORTED})
  check_cxx_compiler_flag(-fstack-protector-strong MARVIX_HAS_STACK_PROTECTOR)
  check_cxx_compiler_flag(-fcf-protection MARVIX_HAS_CF_PROTECTION)
  check_linker_flag(CXX "-Wl,-z,relro,-z,now" MARVIX_HAS_RELRO_NOW)
  # Fortified functions need optimisation, and a second definition would
  # be warned about: none where the flags or the compiler define it.
  set(CMAKE_REQUIRED_FLAGS -O2)
  check_cxx_source_compiles("#ifdef _FORTIFY_SOURCE\n#error defined\n#endif\nint main() {}"
                            MARVIX_FORTIFY_UNDEFINED)
  unset(CMAKE_REQUIRED_FLAGS)
  set(MARVIX_GIVEN_FLAGS " ${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}")
  if(MARVIX_HAS_STACK_PROTECTOR AND NOT MARVIX_GIVEN_FLAGS MATCHES " -f(no-)?stack-protector")
    list(APPEND MARVIX_HARDENING_COMPILE -fstack-protector-strong)
  endif()
  if(MARVIX_HAS_CF_PROTECTION AND NOT MARVIX_GIVEN_FLAGS MATCHES " -fcf-protection")
    list(APPEND MARVIX_HARDENING_COMPILE -fcf-protection)
  endif()
  if(MARVIX_FORTIFY_UNDEFINED)
    string(TOUPPER "${CMAKE_BUILD_TYPE}" MARVIX_CONFIG)
    if(" ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${MARVIX_CONFIG}}" MATCHES " -O([1-9sgz]|fast)?( |$)")
      list(APPEND MARVIX_HARDENING_COMPILE -D_FORTIFY_SOURCE=2)
    endif()
  endif()
  if(MARVIX_HAS_RELRO_NOW AND NOT MARVIX_GIVEN_FLAGS MATCHES "relro|-z,now|-z,lazy")
    list(APPEND MARVIX_HARDENING_LINK -Wl,-z,relro,-z,now)
  endif()
endif()
