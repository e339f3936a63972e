# Build rules of the control-file fuzzer, and the directory the grammar is
# generated into.

# bison writes grammar.cpp/.hpp into this directory but does not create it.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/ctlfile)

option(CORVANE_FUZZ "Build the libFuzzer target for the control-file reader (needs clang)" OFF)
