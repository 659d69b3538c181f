// The panel session's settings for tests: the windows build's .gau files in the optimized
// native host of the source tree, the sessions' files in the test's own folder.
#pragma once

#include <filesystem>

#include "bench_locations.h"
#include "panel_session.h"

namespace kestrel::testing {

inline const std::filesystem::path windows_gau_folder = std::filesystem::path(KESTREL_SOURCE_DIR) / "build/windows/modules";

inline panel::PanelSessionSettings native_panel_settings(const std::filesystem::path& work) {
    const bench::Locations locations = bench::Locations::source_tree(KESTREL_SOURCE_DIR);
    panel::PanelSessionSettings settings;
    settings.gau_folders = {windows_gau_folder};
    settings.host = {bench::HostKind::native_gau, {locations.native_host().string()}, bench::native_host_environment};
    settings.work = work;
    return settings;
}

}  // namespace kestrel::testing
