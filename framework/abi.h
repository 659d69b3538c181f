// Calling convention and layout checks for everything that crosses the line
// between a gauge module and its host: 32-bit code, __stdcall entries, 4-byte packing.
#pragma once

#include <cstddef>
#include <cstdint>

// The host calls every module routine with __stdcall and its own services use it too.
// A 64-bit timing build (never loaded by a host) has only one convention.
#if defined(__i386__) || defined(_M_IX86)
#define KESTREL_STDCALL __attribute__((stdcall))
// Host routines that module code calls. Windows code keeps the stack aligned to 4 bytes
// only, so a native host that drives a Windows module realigns on entry.
#define KESTREL_HOST_STDCALL __attribute__((stdcall, force_align_arg_pointer))
#else
#define KESTREL_STDCALL
#define KESTREL_HOST_STDCALL
#endif

// Every record is read by the host at fixed byte offsets of a 32-bit module.
// The checks hold in every build that a host loads (the Windows modules and the
// native 32-bit twin); a 64-bit build that only times the code skips them, since
// its pointers are 8 bytes and no host ever reads its records.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define KESTREL_LAYOUT(condition) static_assert(condition, #condition)
#else
#define KESTREL_LAYOUT(condition) static_assert(true)
#endif

#define KESTREL_OFFSET(record, field, offset) KESTREL_LAYOUT(offsetof(record, field) == (offset))
#define KESTREL_SIZE(record, size) KESTREL_LAYOUT(sizeof(record) == (size))

// Pixel coordinates on the gauge's background picture: x to the right, y down.
#pragma pack(push, 4)
struct PixelPoint {
    int32_t x;  // pixels
    int32_t y;  // pixels
};
struct PixelSize {
    int32_t width;   // pixels
    int32_t height;  // pixels
};
struct PixelBox {
    int32_t x;       // pixels, relative to the enclosing box
    int32_t y;       // pixels
    int32_t width;   // pixels
    int32_t height;  // pixels
};
#pragma pack(pop)
KESTREL_OFFSET(PixelPoint, x, 0);
KESTREL_OFFSET(PixelPoint, y, 4);
KESTREL_SIZE(PixelPoint, 8);
KESTREL_OFFSET(PixelSize, width, 0);
KESTREL_OFFSET(PixelSize, height, 4);
KESTREL_SIZE(PixelSize, 8);
KESTREL_OFFSET(PixelBox, x, 0);
KESTREL_OFFSET(PixelBox, y, 4);
KESTREL_OFFSET(PixelBox, width, 8);
KESTREL_OFFSET(PixelBox, height, 12);
KESTREL_SIZE(PixelBox, 16);
