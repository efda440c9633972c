# The compiler warnings for the project's own code (MARVIX_WARNINGS), errors
# with MARVIX_WERROR.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(MARVIX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion)
  if(MARVIX_WERROR)
    list(APPEND MARVIX_WARNINGS -Werror)
  endif()
elseif(MSVC)
  set(MARVIX_WARNINGS /W4)
  if(MARVIX_WERROR)
    list(APPEND MARVIX_WARNINGS /WX)
  endif()
endif()
