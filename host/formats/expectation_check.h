// What an expectation finds in what a gauge shows: the one comparison, and the one
// wording of what was found, for the host's runner and the bench's panel runner alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "key_event.h"
#include "scenario.h"
#include "trace.h"

namespace kestrel::scenario {

struct Finding {
    bool passed = false;
    std::string found;  // what the element showed, for the failure's message
};

// `expect text`, `value`, `flags`, `hidden` and `shown` on the state of the element they
// name; nullopt for any other action. `has_callback` says why an element has no value:
// no callback, or no update run yet.
std::optional<Finding> check_element(const Action& action, const trace::ElementState& state, bool has_callback);

// `expect keys` on the events sent since the one before.
Finding check_keys(const ExpectKeys& expect, const std::vector<KeyEvent>& sent);

// "0x1024C=1000 0x1024D=0", or "none".
std::string format_events(const std::vector<KeyEvent>& events);

}  // namespace kestrel::scenario
