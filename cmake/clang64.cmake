# Clang for the 64-bit fuzz build: libFuzzer ships with Debian's clang, not with gcc.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
