// The snapshot command: read the panel file (bad input stops here, before anything
// runs), choose the windows, run each window as a panel session, draw and list it.
#include "snapshot_command.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "host_launcher.h"
#include "module_lookup.h"
#include "panel_listing.h"
#include "panel_picture.h"
#include "panel_reader.h"
#include "panel_session.h"
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
        throw UsageError(display_path(panel.file) + ": " +
                         (wanted ? "no window " + *wanted + " (it has " + window_list(panel.windows) + ")"
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
    std::vector<std::pair<uint32_t, double>> variables;
    for (const std::string& text : options.variables) variables.push_back(variable(text));

    PanelSessionSettings settings = session_settings(options, locations, bench::choose_host(options, locations, std::cout));
    std::cout << "host: " << settings.host.description() << '\n';
    fs::create_directories(options.out / "panel");
    settings.work = options.out / "panel" / "runs";
    // One panel for every window drawn: a module shown on two windows runs once.
    std::vector<Window> drawn;
    for (const Window* window : windows) drawn.push_back(*window);
    PanelSession session(drawn, settings);
    for (const auto& [token, value] : variables) session.set(token, value);
    session.update(options.update.value_or(1));
    for (std::size_t w = 0; w < drawn.size(); ++w) {
        const fs::path file = options.out / "panel" / (picture_name(drawn[w]) + ".png");
        picture::write_png(session.draw(w, options.scale_or_default(), options.areas), file);
        print_window(std::cout, drawn[w], session.drawings(w, 1));
        std::cout << "  picture: " << display_path(file) << '\n';
    }
    print_unused(std::cout, panel);
    return run_passed;
}

}  // namespace kestrel::panel
