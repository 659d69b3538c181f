// What the AUTOBRAKE gauge does: the five-position knob and its step events, the three
// one-event buttons, the knob's angle, and the needle flags that the gauge callback sets.
#include "autobrake/autobrake_gauge.h"

namespace autobrake {

constinit int32_t autobrake_position = 1;
constinit ModuleVar needle_flag_var = {.token = 753};

namespace {

constexpr int32_t lowest_position = 0;
constexpr int32_t highest_position = 4;

// Key events, all sent with value 0.
constexpr uint32_t dial_left_event = 0x100DF;
constexpr uint32_t dial_right_event = 0x100DE;
constexpr uint32_t light_button_event = 0x100D8;
constexpr uint32_t knob_down_event = 0x102FB;
constexpr uint32_t knob_up_event = 0x102FA;

// The host counts the knob's travel between positions 3 and 4 as two of its steps: a
// click that ends at 3 going down, or at 4 going up (also one that stays at 4), sends two.
constexpr int32_t down_double_step_at = 3;
constexpr int32_t up_double_step_at = 4;

constexpr int32_t service_needle_flags = 6;
constexpr uint32_t needle_steps_from_root = 1;
constexpr uint32_t needle_mark = image_flag_80000000;
constexpr uint32_t needle_follows_753 = image_flag_4;

void send_step(uint32_t event_id, int32_t times) {
    for (int32_t i = 0; i < times; ++i) panel::trigger_key_event(event_id, 0);
}

}  // namespace

double KESTREL_STDCALL autobrake_knob_cb(ElementHeader*) {
    switch (autobrake_position) {
        case 0: return 270.0;
        case 1: return 0.0;
        case 2: return 45.0;
        case 3: return 90.0;
        default: return 135.0;
    }
}

int32_t KESTREL_STDCALL autobrake_down(const void*, uint32_t) {
    if (autobrake_position > lowest_position) --autobrake_position;
    send_step(knob_down_event, autobrake_position == down_double_step_at ? 2 : 1);
    return 0;
}

int32_t KESTREL_STDCALL autobrake_up(const void*, uint32_t) {
    if (autobrake_position < highest_position) ++autobrake_position;
    send_step(knob_up_event, autobrake_position == up_double_step_at ? 2 : 1);
    return 0;
}

int32_t KESTREL_STDCALL dial_left_click(const void*, uint32_t) {
    panel::trigger_key_event(dial_left_event, 0);
    return 0;
}

int32_t KESTREL_STDCALL dial_right_click(const void*, uint32_t) {
    panel::trigger_key_event(dial_right_event, 0);
    return 0;
}

int32_t KESTREL_STDCALL light_button_click(const void*, uint32_t) {
    panel::trigger_key_event(light_button_event, 0);
    return 0;
}

void KESTREL_STDCALL autobrake_gauge_cb(GaugeHeader* gauge, int32_t service_id, uint32_t) {
    if (service_id != service_needle_flags) return;
    const double flag_value = panel::lookup_var(needle_flag_var);
    // The host passes this gauge's header; a header without a tree leaves the walk at
    // NULL, and then the flag routines change nothing.
    ElementHeader* root = gauge != nullptr && gauge->element_list != nullptr ? *gauge->element_list : nullptr;
    set_image_flags(root, needle_steps_from_root, needle_mark);
    if (flag_value != 0.0)
        set_image_flags(root, needle_steps_from_root, needle_follows_753);
    else
        clear_image_flags(root, needle_steps_from_root, needle_follows_753);
}

}  // namespace autobrake
