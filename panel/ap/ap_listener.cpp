// The AP gauge callback and its key-event listener: the Panel On/Off and Lift Dumpers
// flags follow the key events that the host reports, whoever sent them.
#include "ap/ap_controls.h"
#include "ap/ap_gauge.h"
#include "ap/ap_state.h"
#include "shared/shared_callbacks.h"

namespace ap {

namespace {

constexpr int32_t service_register_listener = 14;
constexpr int32_t service_unregister_listener = 15;
constexpr uint32_t listener_user_data = 0;

void KESTREL_STDCALL ap_key_listener(uint32_t event_id, uint32_t, uint32_t) {
    if (event_id == event::lift_dumpers)
        lift_dumpers_on = panel_shared::toggled(lift_dumpers_on);
    else if (event_id == event::panel_switch)
        panel_on = panel_shared::toggled(panel_on);
}

}  // namespace

// A second service 14 without 15 between registers the listener again; that is the host's
// to settle.
void KESTREL_STDCALL ap_gauge_cb(GaugeHeader*, int32_t service_id, uint32_t) {
    if (service_id == service_register_listener)
        panel::services().register_key_event_handler(ap_key_listener, listener_user_data);
    else if (service_id == service_unregister_listener)
        panel::services().unregister_key_event_handler(ap_key_listener, listener_user_data);
}

}  // namespace ap
