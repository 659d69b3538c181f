// The element callbacks and the failure list that the AP and AUTOBRAKE gauges share.
#include "shared/shared_callbacks.h"

namespace panel_shared {

constinit const FailureEntry light_failures[2] = {
    {.failure_key = gauge_failure_key, .failure_action = readout_failure_action},
    {.failure_key = 0, .failure_action = 0},
};

double KESTREL_STDCALL var_value_cb(ElementHeader* element) { return own_value(element); }

double KESTREL_STDCALL var_positive_cb(ElementHeader* element) { return light_if(own_value(element) > 0.0); }

}  // namespace panel_shared
