// Each gauge of a panel as a one-picture scenario run through the bench's child-host run
// path; the verdict's messages become the placeholder's reason when it did not draw.
#include "panel_gauges.h"

#include <fstream>
#include <system_error>

#include "module_lookup.h"
#include "numbers.h"
#include "scenario_process.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;

constexpr const char* picture_label = "snapshot";

}  // namespace

std::string gauge_scenario_text(const GaugeEntry& entry, const GaugeRunSettings& settings) {
    std::string text = "# gauge" + std::to_string(entry.number) + " of a panel window, drawn by kestrel-bench snapshot\n";
    text += "module " + entry.module + "\n";
    text += "gauge " + entry.gauge + "\n";
    for (const auto& [token, value] : settings.variables)
        text += "set " + std::to_string(token) + " " + exact_number(value) + "\n";
    text += "update " + std::to_string(settings.updates) + "\n";
    text += std::string("picture ") + picture_label + "\n";
    return text;
}

GaugeRunner::GaugeRunner(GaugeRunSettings settings) : settings_(std::move(settings)) {}
GaugeRunner::~GaugeRunner() = default;

const picture::PictureSet& GaugeRunner::pictures_of(const fs::path& gau_file) {
    auto found = pictures_.find(gau_file);
    if (found == pictures_.end()) found = pictures_.emplace(gau_file, picture::PictureSet::from_module(gau_file)).first;
    return found->second;
}

GaugeDrawing GaugeRunner::run(const GaugeEntry& entry, const std::string& prefix) {
    GaugeDrawing drawing{entry, std::nullopt, std::nullopt, "", {}};
    // The module as the simulator finds it: MODULE.gau in any letter case, in the first
    // folder that has it.
    fs::path module_file;
    std::string missing;
    for (const fs::path& folder : settings_.module_folders) {
        try {
            module_file = require_module_file(folder, entry.module, ".gau");
            break;
        } catch (const ModuleNotFound& error) {
            missing += (missing.empty() ? "" : "; ") + std::string(error.what());
        }
    }
    if (module_file.empty()) {
        drawing.problem = missing.empty() ? "no folder to look for " + entry.module + ".gau in" : missing;
        return drawing;
    }

    bench::ScenarioRun run;
    run.scenario = settings_.work / (prefix + ".scenario");
    run.trace = settings_.work / (prefix + ".jsonl");
    run.log = settings_.work / (prefix + ".log");
    run.host = settings_.host;
    run.modules = module_file.parent_path();
    run.timeout = std::chrono::duration<double>(settings_.timeout_seconds);
    fs::create_directories(run.scenario.parent_path());
    {
        std::ofstream scenario(run.scenario, std::ios::binary);
        scenario << gauge_scenario_text(entry, settings_);
        if (!scenario.flush()) throw std::runtime_error(display_path(run.scenario) + ": cannot write the scenario");
    }
    const bench::ScenarioOutcome outcome = bench::run_scenario(run);
    const bool drawn = outcome.verdict == bench::Verdict::passed && outcome.trace && outcome.trace->gauge &&
                       !outcome.trace->pictures.empty();
    if (!drawn) {
        std::string reason = bench::verdict_name(outcome.verdict);
        for (const std::string& message : outcome.messages) reason += ": " + message;
        drawing.problem = reason;
        return drawing;
    }
    try {
        if (!readout_face_) readout_face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
        picture::Renderer renderer(pictures_of(module_file), *readout_face_);
        drawing.picture = renderer.render(*outcome.trace->gauge, outcome.trace->pictures.back());
        drawing.size_x_mm = outcome.trace->gauge->size_x_mm;
        drawing.areas = outcome.trace->gauge->areas;
    } catch (const picture::ImageError& error) {
        drawing.problem = std::string("cannot draw: ") + error.what();
    } catch (const pe::PeError& error) {
        drawing.problem = std::string("cannot read its pictures: ") + error.what();
    }
    return drawing;
}

}  // namespace kestrel::panel
