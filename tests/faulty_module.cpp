// A gauge module that misbehaves on request, for the bench's tests: gauge "Faulty" has a
// background and one needle whose callback reads host variable 1 and then returns 0,
// writes through a NULL pointer (1) or never returns (2).
#include "linkage.h"

namespace faulty {

constexpr uint32_t behave = 0;
constexpr uint32_t crash = 1;
constexpr uint32_t hang = 2;

extern GaugeHeader faulty_gauge;

constinit ModuleVar mode_var = {.token = 1, .var_ptr = nullptr, .var_type = 0, .value = 0.0, .previous_value = 0.0};
constinit volatile int* volatile nowhere = nullptr;
constinit volatile uint32_t spins = 0;

double KESTREL_STDCALL needle_cb(ElementHeader*) {
    const auto mode = static_cast<uint32_t>(panel::lookup_var(mode_var));
    if (mode == crash) *nowhere = 1;
    while (mode == hang) spins = spins + 1;
    return behave;
}

constexpr ElementHeader header(ElementKind kind, uint32_t picture, ElementHeader* const* children) {
    return {.element_kind = kind, .resource_id = picture, .position = {10, 10}, .previous_position = {0, 0},
            .anchor = {0, 0}, .gauge_header = &faulty_gauge, .previous_element = nullptr,
            .next_elements = children, .failure_list = nullptr, .image_flags = 0, .special_flags = 0, .reserved = 0};
}

extern NeedleElement needle;
constinit ElementHeader* const root_children[] = {&needle.header, nullptr};
constinit GaugeRoot root = {.background = {.header = header(static_image_element, 1, root_children), .host_owned_60 = {}},
                            .root = &root.background.header};
constinit NeedleElement needle = {.header = header(needle_element, 2, nullptr), .source_var = {},
                                  .host_owned_88 = {}, .nonlinearity_table = nullptr, .nonlinearity_count = 0,
                                  .needle_rate = 0, .host_owned_124 = {}, .value_callback = needle_cb,
                                  .host_owned_228 = {}};
constinit MouseRect mouse_rects[] = {mouse_parent_rect({0, 0, 0, 0}, 0), mouse_end_of_parent_rect(),
                                     mouse_end_of_list_rect()};
constinit GaugeHeader faulty_gauge = make_gauge_header<faulty_gauge>("Faulty", root, 10, mouse_rects, nullptr);

}  // namespace faulty

extern "C" {
constinit LinkageRecord<1> Linkage = {
    .module_id = module_id_word,
    .module_init = module_init,
    .module_deinit = module_deinit,
    .module_flags = 0,
    .module_priority = 0,
    .module_version = module_version_2002,
    .gauge_table = {&faulty::faulty_gauge, nullptr},
};
}
