// Scenarios: short plain-text scripts that drive one gauge, or a whole panel window (set
// host variables, run updates, click, send service ids and key events, take pictures) and
// state what the gauges must show. Parsed the same way by the 32-bit runner and the bench.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "key_event.h"

namespace kestrel::scenario {

using kestrel::KeyEvent;

// A malformed scenario: what() reads "file:line: what was expected".
class ScenarioError : public std::runtime_error {
public:
    ScenarioError(const std::string& file, int line, const std::string& what);
    int line() const { return line_; }

private:
    int line_;
};

// Flag bits a click carries when the scenario names none: the plain click every area takes.
inline constexpr uint32_t default_click_flags = 0x20000000;
// A scenario is a short script written by hand; a file beyond this is not one.
inline constexpr std::uintmax_t max_scenario_bytes = 4u << 20;
// Updates in one scenario, all commands together: a day of the host's 18 updates a
// second. A trace records an update that changes nothing in a few dozen bytes, so a day
// of a gauge stays within what the reader takes.
inline constexpr uint64_t max_updates_per_scenario = 24 * 3600 * 18;

struct SetVariable {
    uint32_t token;
    double value;
};
struct RunUpdates {
    uint64_t count;
};
struct Click {
    int32_t x;  // background pixels
    int32_t y;
    uint32_t flags;
};
struct CallService {
    int32_t service_id;
    uint32_t extra;
};
struct SendKey {
    KeyEvent event;
};
struct TakePicture {
    std::string label;  // letters, digits, '-', '_' and '.': also a file name
};
// Elements are named by their place in the drawing order, "[27]", as `kestrel-host
// inspect` numbers them, or by their path in the element tree, "0.1.0".
struct ExpectText {
    std::string element;
    std::string text;     // the bytes the read-out's buffer holds
};
struct ExpectValue {
    std::string element;
    double value;  // compared exactly, as the host compares its values
};
struct ExpectFlags {
    std::string element;
    uint32_t flags;  // the whole image_flags word
};
struct ExpectHidden {
    std::string element;
    bool hidden;  // `expect hidden` or `expect shown`: the image_hidden bit alone
};
// The key events that module code sent since the previous `expect keys` (or the start).
struct ExpectKeys {
    std::vector<KeyEvent> events;  // empty: `expect keys none`
};
// `expect picture FILE.png [TOLERANCE]`: the gauge as it shows now, drawn at scale 1, must
// match a reference picture in all but at most `tolerance` pixels. The host cannot draw:
// it records the gauge's state, and the bench draws and compares it after the run.
struct ExpectPicture {
    std::string reference;  // relative to the scenario's folder, below it (see is_valid_reference_path)
    uint64_t tolerance = 0;
};
// The most pixels a picture expectation may let differ: a tolerance beyond any gauge's size.
inline constexpr uint64_t max_picture_tolerance = 100'000'000;

using Action = std::variant<SetVariable, RunUpdates, Click, CallService, SendKey, TakePicture, ExpectText,
                            ExpectValue, ExpectFlags, ExpectHidden, ExpectKeys, ExpectPicture>;

struct Command {
    int line;          // 1-based line in the scenario file
    std::string text;  // the line as written, without comment and surrounding blanks
    Action action;
};

// `panel FILE` and `window N` instead of `module` and `gauge`: the scenario drives every
// gauge of one window of a panel file, each module in its own host. Clicks are then at
// window coordinates and elements are named MODULE!GAUGE:[N].
struct PanelSource {
    std::string file;  // as written: relative to the scenario's folder, or absolute
    int line = 0;
    int window = 0;    // NN of [WindowNN]; window 00 without a `window` line
    int window_line = 0;
};

struct Scenario {
    std::string file;    // as named to the parser; used in every message
    std::string module;  // module name without extension, e.g. "KESTREL_TIMER"; empty for a panel
    std::string gauge;   // gauge name as stored, e.g. "Digital_Clock"; empty for a panel
    int module_line = 0;  // the lines that name them, for messages
    int gauge_line = 0;
    std::optional<PanelSource> panel;
    std::vector<Command> commands;

    // The scenario's name for reports and output files: the file name without extension.
    std::string name() const;
};

// The numbers a scenario writes, for every reader that takes what a scenario takes. A
// whole number: decimal or 0x hexadecimal, optionally signed, at most 16 digits.
std::optional<int64_t> parse_whole_number(std::string_view text);
// A value: such a whole number, or a decimal real (2.5, -1e3), nan, inf or -inf.
std::optional<double> parse_value(std::string_view text);

// Parses scenario text; `file` is used only in messages. Throws ScenarioError.
Scenario parse_scenario(std::string_view text, const std::string& file);
// Reads and parses a file. Throws ScenarioError (line 0 when the file cannot be read).
Scenario read_scenario(const std::filesystem::path& path);

bool is_expectation(const Action& action);
// An element of a one-gauge scenario: "[N]" or a tree path "0.1.0".
bool is_valid_element_label(std::string_view label);
// An element of a panel scenario: MODULE!GAUGE:[N] or MODULE!GAUGE:0.1.0.
struct PanelElement {
    std::string module;
    std::string gauge;
    std::string element;  // "[N]" or a tree path
};
std::optional<PanelElement> parse_panel_element(std::string_view label);
// "[N]": the drawing-order index; nullopt for a tree path or anything else.
std::optional<std::size_t> element_index_label(std::string_view label);

// A click lies on the gauge when it is inside its picture, width by height pixels; the
// message for one that is not names the gauge and its size.
bool click_on_gauge(const Click& click, int width, int height);
std::string click_outside_gauge(const Click& click, const std::string& gauge, int width, int height);
bool is_valid_picture_label(std::string_view label);
// A reference picture's path as a scenario names it: '/'-separated parts of picture-label
// characters (so no "..", no hidden and no absolute path: the bench writes it under
// --update-pictures, and it stays below the scenario's folder), ending in ".png".
bool is_valid_reference_path(std::string_view path);

// Text in scenario quoting: double quotes, with \" \\ and \xHH for other bytes.
std::string quote_text(std::string_view text);
std::string format_key_event(const KeyEvent& event);  // "0x1024C=1000"

}  // namespace kestrel::scenario
