// The snapshot command: read the panel file (bad input stops here, before anything
// runs), choose the windows, run each window's gauges, draw and list each window.
#include "snapshot_command.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "host_launcher.h"
#include "module_lookup.h"
#include "panel_gauges.h"
#include "panel_listing.h"
#include "panel_picture.h"
#include "panel_reader.h"
#include "run_status.h"
#include "scenario.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;
using bench::UsageError;

// NN-TITLE: the title's letters and digits, anything else as '_', short enough for any
// file system.
std::string picture_name(const Window& window) {
    std::string name = two_digits(window.number) + "-";
    for (char c : window.title.substr(0, 48))
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
    return name;
}

std::vector<const Window*> chosen_windows(const PanelFile& panel, const std::optional<std::string>& wanted) {
    std::vector<const Window*> chosen;
    for (const Window& window : panel.windows)
        if (!wanted || same_name(window.title, *wanted) ||
            (std::all_of(wanted->begin(), wanted->end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
             !wanted->empty() && wanted->size() <= 3 && std::stoi(*wanted) == window.number))
            chosen.push_back(&window);
    if (chosen.empty()) {
        std::string list;
        for (const Window& window : panel.windows) list += (list.empty() ? "" : ", ") + two_digits(window.number) + " \"" + window.title + "\"";
        throw UsageError(display_path(panel.file) + ": " +
                         (wanted ? "no window " + *wanted + " (it has " + (list.empty() ? "none" : list) + ")"
                                 : "no [WindowNN] section to draw"));
    }
    return chosen;
}

// --set TOKEN=VALUE, read as the scenario line `set TOKEN VALUE` is, so that the two agree.
std::pair<uint32_t, double> variable(const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::string line = equals == std::string::npos ? "" : "set " + text.substr(0, equals) + " " + text.substr(equals + 1);
    try {
        if (line.empty()) throw std::runtime_error("expected TOKEN=VALUE");
        const scenario::Scenario parsed = scenario::parse_scenario("module M\ngauge G\n" + line + "\n", "--set");
        const auto& set = std::get<scenario::SetVariable>(parsed.commands.at(0).action);
        return {set.token, set.value};
    } catch (const std::exception&) {
        throw UsageError("--set " + text + ": expected TOKEN=VALUE, a host variable's token (a whole number) and a number");
    }
}

}  // namespace

int snapshot_command(const bench::Options& options, const bench::Locations& locations) {
    const PanelFile panel = read_panel_file(*options.panel_file);
    const std::vector<const Window*> windows = chosen_windows(panel, options.window);

    GaugeRunSettings settings;
    if (options.gauges) {
        if (std::string problem = read_problem(*options.gauges, true); !problem.empty()) throw UsageError(problem);
        settings.module_folders = {*options.gauges};
    } else {
        for (const fs::path& folder : bench::gau_folders(options, locations)) {
            std::error_code missing;
            if (fs::is_directory(folder, missing)) settings.module_folders.push_back(folder);
        }
    }
    for (const std::string& text : options.variables) settings.variables.push_back(variable(text));
    settings.updates = options.update.value_or(1);
    settings.timeout_seconds = options.timeout_or_default();
    settings.work = options.out / "panel" / "runs";
    fs::create_directories(options.out / "panel" / "runs");
    fs::create_directories(options.out / "logs");
    settings.host = bench::choose_host(options, locations, std::cout);
    std::cout << "host: " << settings.host.description() << '\n';

    GaugeRunner runner(settings);
    picture::TextFace label_face(picture::default_label_font);
    for (const Window* window : windows) {
        const std::string name = picture_name(*window);
        std::vector<GaugeDrawing> gauges;
        for (const GaugeEntry& entry : window->gauges)
            gauges.push_back(runner.run(entry, name + "/gauge" + two_digits(entry.number)));
        const fs::path file = options.out / "panel" / (name + ".png");
        picture::write_png(draw_window(*window, gauges, options.scale_or_default(), label_face, options.areas), file);
        print_window(std::cout, *window, gauges);
        std::cout << "  picture: " << display_path(file) << '\n';
    }
    print_unused(std::cout, panel);
    return run_passed;
}

}  // namespace kestrel::panel
