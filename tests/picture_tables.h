// The modules' picture tables as the picture checks read them: each row's resource id,
// file and size, every row of a module in table order, and each row by its name, so
// that a check of one picture names it rather than typing its file or size again.
#pragma once

#include <cstdint>

#include "clock/clock_pictures.h"
#include "panel/panel_pictures.h"

namespace kestrel::testing {

struct PictureRow {
    uint32_t id;
    const char* file;
    int32_t width, height;
};

#define KESTREL_TEST_PICTURE_ROW(name, id, file, width, height) PictureRow{id, file, width, height},
#define KESTREL_TEST_NAMED_PICTURE(name, id, file, width, height) \
    inline constexpr PictureRow name = {id, file, width, height};

inline constexpr PictureRow clock_pictures[] = {KESTREL_CLOCK_PICTURES(KESTREL_TEST_PICTURE_ROW)};
inline constexpr PictureRow panel_pictures[] = {KESTREL_PANEL_PICTURES(KESTREL_TEST_PICTURE_ROW)};

namespace clock_picture {
KESTREL_CLOCK_PICTURES(KESTREL_TEST_NAMED_PICTURE)
}
namespace panel_picture {
KESTREL_PANEL_PICTURES(KESTREL_TEST_NAMED_PICTURE)
}

#undef KESTREL_TEST_PICTURE_ROW
#undef KESTREL_TEST_NAMED_PICTURE

}  // namespace kestrel::testing
