// What the host's tests share: where the built modules are, and small test-local gauge
// records that the tests drive through the host without loading a library.
#pragma once

#include <filesystem>
#include <string>

#include "driver.h"
#include "loader.h"
#include "services.h"

namespace kestrel::testing {

inline std::filesystem::path module_path(const char* file) { return std::filesystem::path(KESTREL_MODULE_DIR) / file; }
inline std::filesystem::path timer_module_path() { return module_path(KESTREL_TIMER_FILE); }
inline std::filesystem::path panel_module_path() { return module_path(KESTREL_PANEL_FILE); }

// A gauge header for test-local records: only element_list and mouse_rect_list are read
// by the driver; everything else stays zero.
inline GaugeHeader test_gauge_header(ElementHeader** element_list, MouseRect* mouse_rects,
                                     GaugeCallback callback = nullptr) {
    GaugeHeader header{};
    header.header_version = gauge_header_version;
    header.gauge_name = "test_gauge";
    header.element_list = element_list;
    header.mouse_rect_list = mouse_rects;
    header.gauge_callback = callback;
    return header;
}

}  // namespace kestrel::testing
