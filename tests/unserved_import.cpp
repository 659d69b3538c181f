// A Windows library whose load needs a system routine that the native host's module
// mapper does not serve: the mapper must refuse it by name instead of calling a null slot.
#include <windows.h>

extern "C" __declspec(dllexport) unsigned Linkage[8] = {0x13};
extern "C" __declspec(dllexport) unsigned ImportTable[4] = {0x0F};

extern "C" __declspec(dllexport) unsigned long kestrel_test_ticks() { return GetTickCount(); }
