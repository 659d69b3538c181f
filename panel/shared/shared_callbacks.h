// What the KESTREL module's two gauges share: the return values of one-picture lights,
// the failure list of lights and read-outs, and the element callbacks that both gauges use.
#pragma once

#include "elements.h"

namespace panel_shared {

// One-picture lights show their picture for 1 and nothing for -1.
inline constexpr double light_lit = 1.0;
inline constexpr double light_dark = -1.0;
inline constexpr double light_if(bool lit) { return lit ? light_lit : light_dark; }

// The host-owned icon_switch word of every KESTREL icon.
inline constexpr uint32_t panel_icon_switch = 0;

// The module's flag toggle: 1 becomes 0, any other value becomes 1.
inline constexpr int32_t toggled(int32_t flag) { return flag == 1 ? 0 : 1; }

// {failure key 20, action 3}, then the all-zero end: every AP read-out and light but the
// two switch pictures, and the autobrake light.
extern const FailureEntry light_failures[2];

// The element's own variable, unchanged: the AP toggle lever and the autobrake needle.
double KESTREL_STDCALL var_value_cb(ElementHeader* element);
// 1.0 if the element's own variable is above 0, else -1.0: an AP mode light and the
// autobrake light.
double KESTREL_STDCALL var_positive_cb(ElementHeader* element);

// The value of an icon's or a needle's embedded variable, which the host refreshed before
// it called the callback. The header is the first member of either record.
inline double own_value(const ElementHeader* element) {
    if (element->element_kind == needle_element)
        return reinterpret_cast<const NeedleElement*>(element)->source_var.value;
    return reinterpret_cast<const IconElement*>(element)->source_var.value;
}

}  // namespace panel_shared
