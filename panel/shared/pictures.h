// The KESTREL module's bitmap resources by name, as the module's picture table numbers
// them, for the records of both gauges. A two-picture icon names its first picture.
#pragma once

#include <cstdint>

#include "panel/panel_pictures.h"

namespace panel_shared {

enum PanelPicture : uint32_t {
#define KESTREL_PICTURE_ID(name, id, file, width, height) name##_picture = id,
    KESTREL_PANEL_PICTURES(KESTREL_PICTURE_ID)
#undef KESTREL_PICTURE_ID
};

}  // namespace panel_shared
