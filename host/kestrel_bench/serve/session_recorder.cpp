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

bool SessionRecorder::remember(const std::string& line, std::optional<std::size_t> target, uint64_t updates,
                               const GaugeStates& states, SentKeys sent) {
    if (updates > 0 && !steps_.empty() && steps_.back().updates > 0) {
        Step& last = steps_.back();
        last.updates += updates;
        last.command = "update " + std::to_string(last.updates);
        last.states = states;
        last.sent.insert(last.sent.end(), sent.begin(), sent.end());
        return true;
    }
    if (steps_.size() >= max_steps) return false;
    steps_.push_back({line, target, updates, states, std::move(sent)});
    return true;
}

std::string SessionRecorder::scenario_text(const std::string& header, const std::vector<RecordedGauge>& gauges,
                                           std::size_t target) const {
    std::ostringstream out;
    out << "# A session in the live panel, recorded for replay with kestrel-bench run.\n" << header;
    std::vector<std::vector<trace::ElementState>> shown(gauges.size());
    std::vector<scenario::KeyEvent> keys;
    bool first = true;
    for (const Step& step : steps_) {
        if (step.target && *step.target != target) continue;  // a click on another picture of the panel
        out << step.command << '\n';
        for (std::size_t g = 0; g < gauges.size(); ++g) {
            if (!gauges[g].expect_elements) continue;
            const std::vector<trace::ElementState>& now = step.states.at(gauges[g].index);
            shown[g].resize(now.size());
            for (std::size_t e = 0; e < now.size(); ++e) {
                const std::string element = gauges[g].prefix + element_index(e);
                if (now[e].text && (first || now[e].text != shown[g][e].text))
                    out << "expect text " << element << ' ' << scenario::quote_text(*now[e].text) << '\n';
                // NaN equals nothing, not even itself: it cannot be expected.
                if (now[e].value && !std::isnan(*now[e].value) &&
                    (first || !shown[g][e].value || *now[e].value != *shown[g][e].value))
                    out << "expect value " << element << ' ' << exact_number(*now[e].value) << '\n';
            }
            shown[g] = now;
        }
        for (const SentKey& sent : step.sent)
            for (const RecordedGauge& gauge : gauges)
                if (gauge.index == sent.gauge) keys.push_back(sent.event);
        if (!keys.empty() || step.target) {
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
