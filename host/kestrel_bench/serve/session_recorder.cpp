// Turning the recorded steps into scenario text: each step's command, then an expectation
// for every read-out and value that changed, and the key events sent since the last check.
#include "session_recorder.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "numbers.h"

namespace kestrel::serve {
namespace {

// An element as recorded scenarios name it: its place in the drawing order.
std::string element_index(std::size_t index) {
    std::string name = std::to_string(index);
    name.insert(name.begin(), '[');
    name.push_back(']');
    return name;
}

}  // namespace

bool SessionRecorder::remember(const std::string& line, std::optional<std::size_t> gauge, uint64_t updates,
                               const GaugeStates& states, GaugeKeys sent) {
    if (updates > 0 && !steps_.empty() && steps_.back().updates > 0) {
        Step& last = steps_.back();
        last.updates += updates;
        last.command = "update " + std::to_string(last.updates);
        last.states = states;
        for (std::size_t g = 0; g < sent.size(); ++g) last.sent[g].insert(last.sent[g].end(), sent[g].begin(), sent[g].end());
        return true;
    }
    if (steps_.size() >= max_steps) return false;
    steps_.push_back({line, gauge, updates, states, std::move(sent)});
    return true;
}

std::string SessionRecorder::scenario_text(const std::string& module, const trace::GaugeInfo& info,
                                           std::size_t gauge) const {
    std::ostringstream out;
    out << "# A session in the live panel, recorded for replay with kestrel-bench run.\n";
    out << "module " << module << "\ngauge " << info.gauge << "\n";
    std::vector<trace::ElementState> shown(info.elements.size());
    std::vector<scenario::KeyEvent> keys;
    bool first = true;
    for (const Step& step : steps_) {
        if (step.gauge && *step.gauge != gauge) continue;  // a click on another gauge of the panel
        out << step.command << '\n';
        const std::vector<trace::ElementState>& now = step.states[gauge];
        for (std::size_t e = 0; e < now.size(); ++e) {
            if (now[e].text && (first || now[e].text != shown[e].text))
                out << "expect text " << element_index(e) << ' ' << scenario::quote_text(*now[e].text) << '\n';
            // NaN equals nothing, not even itself: it cannot be expected.
            if (now[e].value && !std::isnan(*now[e].value) && (first || !shown[e].value || *now[e].value != *shown[e].value))
                out << "expect value " << element_index(e) << ' ' << exact_number(*now[e].value) << '\n';
        }
        shown = now;
        keys.insert(keys.end(), step.sent[gauge].begin(), step.sent[gauge].end());
        if (!keys.empty() || step.gauge) {
            out << "expect keys";
            if (keys.empty()) out << " none";
            for (const scenario::KeyEvent& event : keys) out << ' ' << scenario::format_key_event(event);
            out << '\n';
            keys.clear();
        }
        first = false;
    }
    return out.str();
}

}  // namespace kestrel::serve
