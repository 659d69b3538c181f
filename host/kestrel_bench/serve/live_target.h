// What the live panel drives, behind one interface: the gauges of one module in one host
// (`serve MODULE`), or the windows of a panel file with a host for each module file
// (`serve --panel FILE`). The page sees pictures either way: a gauge, or a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host_launcher.h"
#include "host_session.h"
#include "panel_session.h"
#include "png.h"
#include "scenario.h"
#include "session_recorder.h"

namespace kestrel::serve {

using bench::HostGone;

// A request the panel refuses: the HTTP status and the reason the page shows.
struct Refusal {
    int status;
    std::string reason;
};

// A step the page asks for: the action, its line as a scenario writes it, the picture a
// click or a gauge's service goes to, and the updates it runs.
struct TargetStep {
    scenario::Action action;
    std::string line;
    std::optional<std::size_t> picture;
    uint64_t updates = 0;
};

// What the gauges show after a step or a start. `states` and the gauges of `sent` count
// the recorded gauges: a module's gauges, or every gauge of every module of a panel.
struct TargetAnswer {
    GaugeStates states;
    SentKeys sent;
    std::vector<std::pair<uint32_t, double>> vars;
    uint64_t updates = 0;
    std::size_t listeners = 0;
    std::vector<std::string> notes;  // what else happened, such as a panel's module host that stopped
};

class LiveTarget {
public:
    virtual ~LiveTarget() = default;

    // Starts what runs the gauges, afresh; throws HostGone when it cannot start at all.
    virtual TargetAnswer start(const std::atomic<bool>& abandon) = 0;
    virtual void stop() = 0;
    // Throws HostGone when the host went (the live panel stops), Refusal for a step refused.
    virtual TargetAnswer step(const TargetStep& step, const std::atomic<bool>& abandon) = 0;
    // Between steps: how the host ended, if it did (the live panel stops), and notes on
    // what stopped without stopping the panel. Never waits.
    virtual std::optional<std::string> ended(std::vector<std::string>& notes) = 0;

    // "module" (the page's title), "gauges" (its pictures: {name, width, height, areas})
    // and whatever else describes what runs.
    virtual nlohmann::json describe() const = 0;
    virtual std::size_t pictures() const = 0;
    // Refuses a click outside the picture or on nothing that runs.
    virtual void check_click(std::size_t picture, int x, int y) const = 0;
    // Read-outs by element label, per picture, as text the page can print.
    virtual nlohmann::json readouts(const GaugeStates& states) const = 0;
    virtual std::vector<uint8_t> frame(std::size_t picture, const GaugeStates& states, uint64_t updates, int scale) = 0;
    // "AP", or "KESTREL!AP", for the log.
    virtual std::string gauge_name(std::size_t recorded) const = 0;
    // What the log says when it started.
    virtual std::string started() const = 0;
    // The recording of one picture: its scenario text, and the file name it goes by.
    virtual std::pair<std::string, std::string> record(std::size_t picture, const SessionRecorder& recorder) const = 0;
};

// The bytes of a read-out as the page shows them: each byte as the code point of the same
// number, as the trace writes them; digits and signs read the same in every code page.
std::string latin1_to_utf8(const std::string& bytes);

// The module served: its name as a scenario's module line gives it, the .gau its
// pictures come from, and the file the host loads (the .gau, or the twin's .so).
struct ServedModule {
    std::string name;
    std::filesystem::path pictures;
    std::filesystem::path loaded;
};

// The gauges of one module in the page, side by side, in one host; its files go to `work`.
std::unique_ptr<LiveTarget> module_target(ServedModule module, bench::Host host, std::filesystem::path work,
                                          double timeout_seconds);

// The windows of a panel file in the page, each module file in its own host.
std::unique_ptr<LiveTarget> panel_target(panel::PanelFile panel, panel::PanelSessionSettings settings);

}  // namespace kestrel::serve
