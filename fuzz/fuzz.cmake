# The libFuzzer target for the control-file reader (not part of make check):
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF
# fuzz/run_fuzz.sh does this and runs it.

option(CORVANE_FUZZ "Build the libFuzzer target for the control-file reader (needs clang)" OFF)

if(CORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "CORVANE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage feedback for everything the reader reaches, and sanitizers
  # that turn any memory fault or undefined behaviour into a crash.
  set(CORVANE_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  get_property(libs GLOBAL PROPERTY CORVANE_LIBRARIES)
  foreach(lib ${libs} corvane_alloc)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${CORVANE_FUZZ_FLAGS})
  endforeach()
  target_link_options(corvane PRIVATE -fsanitize=fuzzer-no-link ${CORVANE_FUZZ_FLAGS})

  add_executable(ctlfile_fuzzer fuzz/ctlfile_fuzzer.cpp)
  target_compile_options(ctlfile_fuzzer PRIVATE -fsanitize=fuzzer ${CORVANE_FUZZ_FLAGS})
  target_link_options(ctlfile_fuzzer PRIVATE -fsanitize=fuzzer ${CORVANE_FUZZ_FLAGS})
  # What a run reads the control file with: fuzz_input.hpp starts it as the driver does.
  target_link_libraries(ctlfile_fuzzer PRIVATE corvane_driver corvane_ctlfile corvane_backend
    corvane_model corvane_common)
endif()
