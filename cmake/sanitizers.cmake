# Instrumentation of every target that follows, the tests' and the fuzz
# target's included: MARVIX_FUZZ and MARVIX_SANITIZE.

if(MARVIX_FUZZ)
  # Coverage for libFuzzer and the sanitizers on all code; clang only. A
  # finding of either sanitizer ends the run, as a crash does, so that the
  # fuzzer keeps the input and the fuzz lane fails on an out-of-bounds read
  # or an overflow that happens not to crash.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(MARVIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
