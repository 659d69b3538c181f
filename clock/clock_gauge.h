// The Digital_Clock gauge as the host sees it: its header, element tree and click areas.
// Declared here for the records' own cross references and for the programs that drive
// the records directly.
#pragma once

#include "linkage.h"

namespace digital_clock {

extern GaugeHeader clock_gauge;
extern GaugeRoot clock_face;
extern IconElement lit_face;
extern StringElement upper_readout;
extern StringElement lower_readout;
extern NeedleElement unlit_hand;
extern NeedleElement lit_hand;
extern IconElement page_lever;
extern IconElement mode_lever;
extern MouseRect clock_mouse_rects[7];

}  // namespace digital_clock
