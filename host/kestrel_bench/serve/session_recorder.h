// The live panel's recorder: every step of the session (set, update, click, service, key)
// with what each gauge showed after it and the key events sent, and the session so far
// written out as a scenario that `kestrel-bench run` replays: of one gauge, its elements
// named [N], or of a panel window, its elements named MODULE!GAUGE:[N].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"
#include "trace.h"

namespace kestrel::serve {

using GaugeStates = std::vector<std::vector<trace::ElementState>>;  // per gauge, per element

// A key event and the gauge (of the recorded states) whose code sent it.
struct SentKey {
    std::size_t gauge = 0;
    scenario::KeyEvent event;
};
using SentKeys = std::vector<SentKey>;  // in the order sent

// A gauge a scenario is written for: its place among the recorded states, the prefix its
// elements are named with ("" or "KESTREL!AP:"), and whether its elements are expected
// (a gauge the window does not show still sends key events that the replay sees).
struct RecordedGauge {
    std::size_t index = 0;
    std::string prefix;
    bool expect_elements = true;
};

class SessionRecorder {
public:
    // Most steps one recording keeps; later ones are dropped (and `full` says so).
    static constexpr std::size_t max_steps = 20'000;

    void clear() { steps_.clear(); }
    std::size_t size() const { return steps_.size(); }
    bool empty() const { return steps_.empty(); }

    // Notes a step: its scenario line, the picture a click went to (nullopt for steps that
    // reach every gauge), how many updates it ran, the states after it and what was sent.
    // Consecutive updates become one `update N`. Returns false when the step was dropped.
    bool remember(const std::string& line, std::optional<std::size_t> target, uint64_t updates, const GaugeStates& states,
                  SentKeys sent);

    // The session as a scenario: the header lines that say what it runs, then the steps
    // that reach every picture or the picture `target`, with expectations on `gauges`.
    std::string scenario_text(const std::string& header, const std::vector<RecordedGauge>& gauges,
                              std::size_t target) const;

private:
    struct Step {
        std::string command;
        std::optional<std::size_t> target;
        uint64_t updates = 0;
        GaugeStates states;
        SentKeys sent;
    };
    std::vector<Step> steps_;
};

}  // namespace kestrel::serve
