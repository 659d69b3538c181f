// Running a panel's gauges: each gauge entry becomes a small scenario (module, gauge, the
// host variables set, N updates, one picture) run in its own child host through the
// bench's run path, and its picture is drawn by the renderer from its module's pictures.
// A module that is missing or does not load, or a gauge it lacks, gives the reason instead.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host_launcher.h"
#include "panel_model.h"
#include "png.h"
#include "renderer.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::panel {

// One gauge entry as it ran: its picture at its own pixel size, or why there is none.
struct GaugeDrawing {
    GaugeEntry entry;
    std::optional<picture::Image> picture;
    std::optional<uint32_t> size_x_mm;  // from the gauge header, as the trace records it
    std::string problem;                // the placeholder's reason when there is no picture
    std::vector<trace::ClickArea> areas;  // in the picture's pixels, as the trace records them
};

struct GaugeRunSettings {
    std::vector<std::filesystem::path> module_folders;  // searched in order for MODULE.gau
    bench::Host host;
    uint64_t updates = 1;
    std::vector<std::pair<uint32_t, double>> variables;  // set before the updates
    double timeout_seconds = 30;
    std::filesystem::path work;  // where the scenarios, traces and logs of the runs go
};

// The scenario that draws one gauge entry: its text, as the host reads it.
std::string gauge_scenario_text(const GaugeEntry& entry, const GaugeRunSettings& settings);

class GaugeRunner {
public:
    explicit GaugeRunner(GaugeRunSettings settings);
    ~GaugeRunner();

    // Runs one entry of a window, its files named after `prefix` (e.g. "00-Main/gauge03").
    GaugeDrawing run(const GaugeEntry& entry, const std::string& prefix);

private:
    const picture::PictureSet& pictures_of(const std::filesystem::path& gau_file);

    GaugeRunSettings settings_;
    std::map<std::filesystem::path, picture::PictureSet> pictures_;
    std::unique_ptr<picture::TextFace> readout_face_;
};

}  // namespace kestrel::panel
