// A library that loads but is not a gauge module: it lacks Linkage or ImportTable,
// whichever the build leaves out. The host must refuse it by name.
#ifdef _WIN32
#define EXPORTED __declspec(dllexport)
#else
#define EXPORTED __attribute__((visibility("default")))
#endif

extern "C" {
#ifndef KESTREL_TEST_WITHOUT_Linkage
EXPORTED unsigned Linkage[8] = {0x13};
#endif
#ifndef KESTREL_TEST_WITHOUT_ImportTable
EXPORTED unsigned ImportTable[4] = {0x0F};
#endif
EXPORTED int kestrel_test_library_marker = 1;
}
