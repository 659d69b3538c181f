// The live panel's recorder: every step of the session (set, update, click, service, key)
// with what each gauge showed after it and the key events it sent, and the session so far
// written out as a scenario of one gauge that `kestrel-bench run` replays. Elements are
// named by their drawing-order index, [N].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"
#include "trace.h"

namespace kestrel::serve {

using GaugeStates = std::vector<std::vector<trace::ElementState>>;  // per gauge, per element
using GaugeKeys = std::vector<std::vector<scenario::KeyEvent>>;  // per gauge

class SessionRecorder {
public:
    // Most steps one recording keeps; later ones are dropped (and `full` says so).
    static constexpr std::size_t max_steps = 20'000;

    void clear() { steps_.clear(); }
    std::size_t size() const { return steps_.size(); }
    bool empty() const { return steps_.empty(); }

    // Notes a step: its scenario line, the gauge a click went to (nullopt for steps that
    // reach every gauge), how many updates it ran, the states after it and what it sent.
    // Consecutive updates become one `update N`. Returns false when the step was dropped.
    bool remember(const std::string& line, std::optional<std::size_t> gauge, uint64_t updates, const GaugeStates& states,
                  GaugeKeys sent);

    // The session as a scenario of gauge `gauge` of module `module`.
    std::string scenario_text(const std::string& module, const trace::GaugeInfo& info, std::size_t gauge) const;

private:
    struct Step {
        std::string command;
        std::optional<std::size_t> gauge;
        uint64_t updates = 0;
        GaugeStates states;
        GaugeKeys sent;
    };
    std::vector<Step> steps_;
};

}  // namespace kestrel::serve
