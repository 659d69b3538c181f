# The native 32-bit twin: same 4-byte pointers and 4-byte packing as the shipped modules.
# Programs are built position-dependent: position-independent 32-bit code gives up one of
# its six free registers to the GOT and calls a thunk to find it, which the host's
# per-update path pays for at every entry. A module file the host loads runs in its
# process with all its rights, so address randomisation of the host's own code would
# protect nothing from it; the twins' shared objects stay position-independent.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_CXX_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
