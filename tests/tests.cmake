# The test suite, built with MARVIX_TESTS: GoogleTest, the test program and
# its helpers, and how ctest lists the cases natively, under an emulator and
# under Wine. Included by the top CMakeLists.txt, so that the test program
# is built and run in the top of the build folder, beside the library and
# the tool, with every object file in one place.

find_package(GTest)
# Where no GoogleTest is installed for the target (as when cross-building
# for Windows), build it from Debian's googletest sources.
set(MARVIX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, used when no package is found")
if(NOT GTest_FOUND AND EXISTS ${MARVIX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${MARVIX_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
  set(GTest_FOUND TRUE)
endif()
if(NOT GTest_FOUND)
  message(FATAL_ERROR "The tests need GoogleTest, which was not found. Install it (Debian and Ubuntu: "
                      "apt-get install libgtest-dev) or configure with -DMARVIX_TESTS=OFF.")
endif()

# The library's tests run everywhere; the end-to-end and pseudo-terminal
# tests need POSIX processes and terminals.
add_executable(marvix_tests
  tests/format_test.cpp
  tests/text_test.cpp
  tests/scanner_test.cpp
  tests/listing_test.cpp
  tests/damage_test.cpp
  tests/test_util.cpp)
if(NOT WIN32)
  target_sources(marvix_tests PRIVATE
    tests/image_test.cpp
    tests/run_test.cpp
    tests/terminal_test.cpp
    tests/terminal_session.cpp
    tests/process_util.cpp)
  # The pseudo-terminal tests need openpty: in the C library on glibc 2.34
  # and later and on macOS, in libutil on older glibc and the BSDs.
  include(CheckFunctionExists)
  check_function_exists(openpty MARVIX_OPENPTY_IN_LIBC)
  if(NOT MARVIX_OPENPTY_IN_LIBC)
    find_library(MARVIX_UTIL_LIBRARY util REQUIRED)
    target_link_libraries(marvix_tests PRIVATE ${MARVIX_UTIL_LIBRARY})
  endif()
  # Where the tool can be run with a preloaded library, a listing and the
  # terminal tests run again on a system at the edge of what POSIX allows
  # (not under the sanitizers, whose runtime must come first).
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING
     AND NOT MARVIX_SANITIZE AND NOT MARVIX_FUZZ)
    add_library(hostile_system SHARED tests/hostile_system.cpp)
    target_link_libraries(hostile_system PRIVATE ${CMAKE_DL_LIBS})
    # Needing only the C library, it brings no second C++ runtime into the tool.
    # Unfortified: the fortified headers define read inline, and it defines
    # read itself (clang refuses both).
    target_compile_options(hostile_system PRIVATE ${MARVIX_WARNINGS} -fno-exceptions -U_FORTIFY_SOURCE)
    target_link_options(hostile_system PRIVATE -Wl,--as-needed)
    add_dependencies(marvix_tests hostile_system)
    target_compile_definitions(marvix_tests PRIVATE MARVIX_HOSTILE_SYSTEM="$<TARGET_FILE:hostile_system>")
  endif()
endif()
target_include_directories(marvix_tests PRIVATE tools tests)
target_link_libraries(marvix_tests PRIVATE marvix_lib GTest::gtest GTest::gtest_main)
target_compile_options(marvix_tests PRIVATE ${MARVIX_WARNINGS}
  $<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-Wno-missing-field-initializers>
  # GCC 12 gives false -Wrestrict reports on string concatenation at -O2.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
set(MARVIX_TESTED_BINARY $<TARGET_FILE:marvix>)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
  # The tests start the tool as the user would; where only an emulator can
  # run it, through a small script that hands it to the emulator with the
  # arguments. exec keeps the process: its id, its session and process
  # group, its terminal and its signals are the tool's.
  set(MARVIX_TESTED_BINARY ${PROJECT_BINARY_DIR}/marvix_emulated)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "' '" MARVIX_EMULATOR_WORDS)
  file(GENERATE OUTPUT ${MARVIX_TESTED_BINARY}
       CONTENT "#!/bin/sh\nexec '${MARVIX_EMULATOR_WORDS}' '$<TARGET_FILE:marvix>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  target_compile_definitions(marvix_tests PRIVATE MARVIX_EMULATED)
endif()
target_compile_definitions(marvix_tests PRIVATE
  MARVIX_BINARY="${MARVIX_TESTED_BINARY}"
  MARVIX_SAMPLE="${PROJECT_SOURCE_DIR}/examples/demo.dbg"
  MARVIX_SAMPLE_LISTING="${PROJECT_SOURCE_DIR}/examples/demo.txt"
  MARVIX_PAGING_SAMPLE="${PROJECT_SOURCE_DIR}/examples/paging.dbg"
  MARVIX_PAGING_LISTING="${PROJECT_SOURCE_DIR}/examples/paging.txt")
if(MARVIX_SANITIZE)
  target_compile_definitions(marvix_tests PRIVATE MARVIX_SANITIZE)
endif()
add_dependencies(marvix_tests marvix)
include(GoogleTest)
# The terminal tests' instances are named for the system they run on
# (/native, /hostile): the parameter itself, a path, stays out of the name.
# A case that hangs fails after five minutes instead of holding the run up;
# the slowest takes seconds, under an emulator too.
if(NOT CMAKE_CROSSCOMPILING)
  gtest_discover_tests(marvix_tests NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
elseif(NOT WIN32)
  # The cases are listed through the emulator when ctest runs, not at
  # build time, and then run one by one, in parallel where ctest may.
  gtest_discover_tests(marvix_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 300)
else()
  # Under Wine one process runs them all: every start of Wine is costly.
  add_test(NAME marvix_tests COMMAND marvix_tests)
endif()
