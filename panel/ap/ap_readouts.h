// The AP read-outs' element callbacks: the two angle windows, the speed window (IAS or
// Mach), the altitude window and the vertical speed window. Each writes its text into the
// host's buffer and returns the value it shows.
#pragma once

#include "elements.h"

namespace ap {

double KESTREL_STDCALL angle1_readout_cb(ElementHeader* element);
double KESTREL_STDCALL angle2_readout_cb(ElementHeader* element);
double KESTREL_STDCALL speed_readout_cb(ElementHeader* element);
double KESTREL_STDCALL altitude_readout_cb(ElementHeader* element);
double KESTREL_STDCALL vs_readout_cb(ElementHeader* element);

}  // namespace ap
