// Expectations compared exactly: text byte for byte, values as the host compares doubles,
// the whole image_flags word, or the image_hidden bit alone.
#include "expectation_check.h"

#include <type_traits>
#include <variant>

#include "numbers.h"

namespace kestrel::scenario {

std::optional<Finding> check_element(const Action& action, const trace::ElementState& state, bool has_callback) {
    return std::visit(
        [&](const auto& expect) -> std::optional<Finding> {
            using A = std::decay_t<decltype(expect)>;
            if constexpr (std::is_same_v<A, ExpectText>) {
                const std::string text = state.text.value_or("");
                return Finding{text == expect.text, "element " + expect.element + " shows " + quote_text(text)};
            } else if constexpr (std::is_same_v<A, ExpectValue>) {
                if (!state.value)
                    return Finding{false, "element " + expect.element +
                                              (has_callback ? " has no value yet: no update has run"
                                                            : " has no callback and so no value")};
                return Finding{*state.value == expect.value,
                               "element " + expect.element + " has the value " + exact_number(*state.value)};
            } else if constexpr (std::is_same_v<A, ExpectFlags>) {
                return Finding{state.image_flags == expect.flags,
                               "element " + expect.element + " has image_flags " + hex_word(state.image_flags, 8)};
            } else if constexpr (std::is_same_v<A, ExpectHidden>) {
                const bool hidden = (state.image_flags & trace::flag_image_hidden) != 0;
                return Finding{hidden == expect.hidden, "element " + expect.element + " is " +
                                                            (hidden ? "hidden" : "shown") + " (image_flags " +
                                                            hex_word(state.image_flags, 8) + ")"};
            } else {
                return std::nullopt;
            }
        },
        action);
}

Finding check_keys(const ExpectKeys& expect, const std::vector<KeyEvent>& sent) {
    return {sent == expect.events, "the module sent " + format_events(sent)};
}

std::string format_events(const std::vector<KeyEvent>& events) {
    if (events.empty()) return "none";
    std::string text;
    for (const KeyEvent& event : events) text += (text.empty() ? "" : " ") + format_key_event(event);
    return text;
}

}  // namespace kestrel::scenario
