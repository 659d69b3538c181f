// The AP flight guidance panel as the host sees it: its header, its 28-element chain and
// its click-area list. The records live in ap_gauge.cpp and ap_mouse.cpp.
#pragma once

#include <array>

#include "linkage.h"

namespace ap {

extern GaugeHeader ap_gauge;

// 33 areas of one parent each, their tooltips and children, inside one outer parent.
inline constexpr std::size_t ap_mouse_rect_count = 109;
extern std::array<MouseRect, ap_mouse_rect_count> ap_mouse_rects;

// The gauge callback: registers the key-event listener on service 14, unregisters it on 15.
void KESTREL_STDCALL ap_gauge_cb(GaugeHeader* gauge, int32_t service_id, uint32_t extra);

}  // namespace ap
