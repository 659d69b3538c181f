// Replaying a panel scenario (`panel FILE`, `window N`): the window runs as a panel
// session, each module in its own host; clicks are at window coordinates, elements are
// named MODULE!GAUGE:[N], and `picture` and `expect picture` take the whole window.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "panel_session.h"
#include "picture_expectations.h"
#include "png.h"
#include "scenario.h"
#include "scenario_process.h"
#include "trace.h"

namespace kestrel::bench {

struct PanelScenarioRun {
    std::filesystem::path scenario;  // as the user named it: the panel file lies relative to its folder
    panel::PanelSessionSettings session;  // its work folder is the scenario's own
    std::filesystem::path beside;    // failed picture expectations leave their pictures beside this
    int scale = 1;                   // the scale `picture` draws the window at
};

struct PanelScenarioOutcome {
    ScenarioOutcome outcome;  // no trace: the hosts answer the bench directly
    std::size_t expectations = 0;
    std::vector<std::pair<std::string, picture::Image>> pictures;  // label, the window at the scale asked
    std::vector<trace::KeyLogEntry> key_log;
    std::vector<std::string> notes;  // with --update-pictures: the references written
};

PanelScenarioOutcome run_panel_scenario(const scenario::Scenario& scenario, const PanelScenarioRun& run,
                                        PictureJudge& judge);

// The panel file a scenario's `panel` line names, relative to the scenario's folder.
std::filesystem::path panel_file_of(const scenario::Scenario& scenario, const std::filesystem::path& scenario_file);

}  // namespace kestrel::bench
