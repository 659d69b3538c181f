// Reading a trace back, through nlohmann-json. A trace is a file a user hands the bench,
// so everything is bounded before use: the file's size, each line, element and picture
// counts, labels (which become file names), positions, sizes, char_count, text lengths
// and nesting. A fault names the file, the line and what was expected.
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "json.h"
#include "scenario.h"
#include "trace.h"

namespace kestrel::trace {
namespace {

using nlohmann::json;

constexpr int max_nesting = 16;

// A fault inside one line; read_trace adds the file and the line.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void bad(const std::string& what) { throw Malformed(what); }

const json& member(const json& object, const char* key) {
    if (!object.is_object()) bad("expected an object");
    const auto found = object.find(key);
    if (found == object.end()) bad(std::string("missing member \"") + key + "\"");
    return *found;
}

const json* optional_member(const json& object, const char* key) {
    if (!object.is_object()) bad("expected an object");
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// Numbers as the writer writes them; NaN and the infinities as the strings it uses for them.
double number(const json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (text == "Infinity") return std::numeric_limits<double>::infinity();
        if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    bad("expected a number");
}

int64_t integer(const json& value, int64_t low, int64_t high, const char* what) {
    int64_t n = 0;
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(high)) bad(std::string("expected ") + what);
        n = static_cast<int64_t>(u);
    } else if (value.is_number_integer()) {
        n = value.get<int64_t>();
    } else if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!(d >= -9007199254740992.0 && d <= 9007199254740992.0) || d != std::trunc(d)) bad(std::string("expected ") + what);
        n = static_cast<int64_t>(d);
    } else {
        bad(std::string("expected ") + what);
    }
    if (n < low || n > high) bad(std::string("expected ") + what);
    return n;
}

uint32_t word32(const json& value) {
    return static_cast<uint32_t>(integer(value, 0, 0xFFFFFFFFll, "an unsigned 32-bit number"));
}

int32_t coordinate(const json& value) {
    return static_cast<int32_t>(integer(value, -max_coordinate, max_coordinate, "a coordinate within +-1000000"));
}

const std::string& string(const json& value, std::size_t max_length, const char* what) {
    if (!value.is_string()) bad(std::string("expected ") + what + " as a string");
    const auto& text = value.get_ref<const std::string&>();
    if (text.size() > max_length) bad(std::string("expected ") + what + " of at most " + std::to_string(max_length) + " bytes");
    return text;
}

const json::array_t& array(const json& value, std::size_t max_size, const char* what) {
    if (!value.is_array()) bad(std::string("expected ") + what + " as an array");
    const auto& items = value.get_ref<const json::array_t&>();
    if (items.size() > max_size) bad(std::string("expected at most ") + std::to_string(max_size) + " " + what);
    return items;
}

bool boolean(const json& value) {
    if (!value.is_boolean()) bad("expected true or false");
    return value.get<bool>();
}

Point read_point(const json& value) {
    const auto& pair = array(value, 2, "a point [x, y]");
    if (pair.size() != 2) bad("expected a point [x, y]");
    return {coordinate(pair[0]), coordinate(pair[1])};
}

ElementState read_state(const json& item) {
    ElementState state;
    state.image_flags = word32(member(item, "flags"));
    if (const json* value = optional_member(item, "value")) state.value = number(*value);
    if (const json* text = optional_member(item, "text"))
        state.text = kestrel::json::bytes_of(string(*text, 2 * max_text_length, "a read-out's text"));
    if (state.text && state.text->size() > max_text_length)
        bad("expected a read-out's text of at most " + std::to_string(max_text_length) + " bytes");
    return state;
}

std::vector<ElementState> read_states(const json& record) {
    std::vector<ElementState> states;
    const auto& items = array(member(record, "elements"), max_trace_elements, "element states");
    states.reserve(items.size());
    for (const json& item : items) states.push_back(read_state(item));
    return states;
}

// An update record's states on top of the states before it: all of them ("elements"),
// the changed ones ("changed", format 2), or none (format 2, nothing changed).
void apply_update_states(const json& record, int format, std::vector<ElementState>& states) {
    if (optional_member(record, "elements") != nullptr) {
        states = read_states(record);
        return;
    }
    if (format < 2) bad("missing member \"elements\"");
    const json* changed = optional_member(record, "changed");
    if (changed == nullptr) return;
    for (const json& pair : array(*changed, max_trace_elements, "changed elements")) {
        const auto& fields = array(pair, 2, "a change [element, state]");
        if (fields.size() != 2) bad("expected a change [element, state]");
        const auto index = static_cast<std::size_t>(integer(fields[0], 0, max_trace_elements - 1, "an element index"));
        if (index >= states.size()) bad("a change of element " + std::to_string(index) + " before any full record of it");
        states[index] = read_state(fields[1]);
    }
}

// An update record with nothing but its line and number, as most of a long run's are:
// read without a JSON parse, for the reader's time is spent in proportion to what changed.
std::optional<std::pair<int64_t, int64_t>> bare_update(const std::string& text) {
    constexpr std::string_view head = "{\"record\":\"update\",\"line\":";
    constexpr std::string_view middle = ",\"update\":";
    if (text.size() > 64 || text.compare(0, head.size(), head) != 0 || text.back() != '}') return std::nullopt;
    auto digits = [&](std::size_t at, std::size_t& end) -> std::optional<int64_t> {
        int64_t value = 0;
        end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 16) value = value * 10 + (text[end++] - '0');
        if (end == at || (text[at] == '0' && end - at > 1)) return std::nullopt;
        return value;
    };
    std::size_t end = 0;
    const auto line = digits(head.size(), end);
    if (!line || text.compare(end, middle.size(), middle) != 0) return std::nullopt;
    const auto update = digits(end + middle.size(), end);
    if (!update || end != text.size() - 1) return std::nullopt;
    return std::pair{*line, *update};
}

GaugeInfo read_gauge(const json& record) {
    GaugeInfo gauge;
    gauge.scenario = string(member(record, "scenario"), 4096, "the scenario file");
    gauge.module = string(member(record, "module"), 64, "a module name");
    if (gauge.module.empty() || gauge.module.find_first_of("/\\.") != std::string::npos)
        bad("expected a module name without directory or extension");
    gauge.module_file = string(member(record, "module_file"), 4096, "the module file");
    gauge.gauge = string(member(record, "gauge"), max_name_length, "a gauge name");
    if (const json* size = optional_member(record, "size_x_mm")) gauge.size_x_mm = word32(*size);
    if (const json* areas = optional_member(record, "areas")) {
        for (const json& item : array(*areas, max_click_areas, "click areas")) {
            ClickArea area;
            const std::string& kind = string(member(item, "kind"), 8, "a click area's kind");
            if (kind != "parent" && kind != "child") bad("expected a click area's kind, parent or child");
            area.parent = kind == "parent";
            const auto& box = array(member(item, "box"), 4, "a box [x, y, width, height]");
            if (box.size() != 4) bad("expected a box [x, y, width, height]");
            area.x = coordinate(box[0]);
            area.y = coordinate(box[1]);
            area.width = coordinate(box[2]);
            area.height = coordinate(box[3]);
            area.whole_gauge = boolean(member(item, "whole"));
            area.help_id = word32(member(item, "help"));
            if (const json* tooltip = optional_member(item, "tooltip"))
                area.tooltip = kestrel::json::bytes_of(string(*tooltip, max_text_length, "a tooltip"));
            gauge.areas.push_back(std::move(area));
        }
    }
    std::unordered_set<std::string> labels;
    for (const json& item : array(member(record, "elements"), max_trace_elements, "elements")) {
        ElementInfo info;
        info.label = string(member(item, "label"), max_name_length, "an element label");
        if (!scenario::is_valid_element_label(info.label)) bad("expected an element label such as 0 or 0.1.0");
        if (!labels.insert(info.label).second) bad("element label " + info.label + " appears twice");
        info.kind = word32(member(item, "kind"));
        info.resource_id = word32(member(item, "resource_id"));
        info.position = read_point(member(item, "position"));
        info.anchor = read_point(member(item, "anchor"));
        info.image_flags = word32(member(item, "flags"));
        if (info.kind == kind_string) {
            const Point size = read_point(member(item, "size"));
            if (size.x < 0 || size.y < 0 || size.x > max_picture_side || size.y > max_picture_side)
                bad("expected a read-out size within 0 to " + std::to_string(max_picture_side));
            info.width = size.x;
            info.height = size.y;
            info.fore_colour = word32(member(item, "fore_colour"));
            info.back_colour = word32(member(item, "back_colour"));
            info.char_count = word32(member(item, "char_count"));
            if (info.char_count > max_char_count)
                bad("expected a char_count of at most " + std::to_string(max_char_count));
            info.font_name = kestrel::json::bytes_of(string(member(item, "font"), 128, "a font name"));
        }
        if (info.kind == kind_icon) {
            info.icon_count = word32(member(item, "icon_count"));
            info.icon_switch = word32(member(item, "icon_switch"));
        }
        if (const json* table = optional_member(item, "table")) {
            for (const json& entry : array(*table, max_table_points, "needle table points")) {
                const auto& fields = array(entry, 3, "a table entry [x, y, value]");
                if (fields.size() != 3) bad("expected a table entry [x, y, value]");
                info.table.push_back({{coordinate(fields[0]), coordinate(fields[1])}, number(fields[2])});
            }
        }
        gauge.elements.push_back(std::move(info));
    }
    return gauge;
}

void log_keys(TraceSummary& summary, const json& record, const std::string& kind, int line) {
    const json* sent = optional_member(record, "sent");
    if (sent == nullptr) return;
    for (const json& pair : array(*sent, std::numeric_limits<std::size_t>::max(), "key events")) {
        const auto& fields = array(pair, 2, "a key event [id, value]");
        if (fields.size() != 2) bad("expected a key event [id, value]");
        summary.key_log.push_back({line, summary.updates, "module", kind, {word32(fields[0]), word32(fields[1])}});
    }
}

json parse_line(const std::string& text) {
    try {
        // A line nested deeper than any record is refused as it is read.
        return json::parse(text, [](int depth, json::parse_event_t, json&) {
            if (depth > max_nesting) throw Malformed("values nested deeper than " + std::to_string(max_nesting) + " levels");
            return true;
        });
    } catch (const json::parse_error& error) {
        std::string what = error.what();
        if (const auto colon = what.find("error: "); colon != std::string::npos) what = what.substr(colon + 7);
        else if (const auto colon2 = what.find(": "); colon2 != std::string::npos) what = what.substr(colon2 + 2);
        bad("at byte " + std::to_string(error.byte) + ": not JSON: " + what);
    }
}

}  // namespace

TraceSummary read_trace(const std::filesystem::path& path, std::optional<uint64_t> select_update) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TraceError(path.string() + ": cannot open the trace");
    std::error_code size_error;
    const auto size = std::filesystem::file_size(path, size_error);
    if (!size_error && size > max_trace_bytes)
        throw TraceError(path.string() + ": a trace of " + std::to_string(size) + " bytes is larger than the " +
                         std::to_string(max_trace_bytes) + " a run may write");
    TraceSummary summary;
    int format = 1;
    // The states as the records so far leave them; kept only when an update is selected.
    std::vector<ElementState> states;
    std::unordered_set<std::string> picture_labels;
    std::string text;
    int line_number = 0;
    while (std::getline(in, text)) {
        ++line_number;
        // A line without its newline is the last one, cut short when the run died; after
        // the end record nothing may follow, so that `ended` means the trace is whole.
        if (in.eof() && !summary.ended) break;
        if (text.empty()) continue;
        try {
            if (summary.ended) bad("expected nothing after the end record");
            if (text.size() > max_trace_line)
                bad("a line of " + std::to_string(text.size()) + " bytes is longer than any record (" +
                    std::to_string(max_trace_line) + ")");
            if (const auto update = bare_update(text); update && format >= 2) {
                if (update->first > (1 << 30) || update->second > (int64_t{1} << 53)) bad("expected an update number");
                summary.updates = static_cast<uint64_t>(update->second);
                if (select_update && *select_update == summary.updates)
                    summary.selected_update = Frame{"update-" + std::to_string(summary.updates),
                                                    static_cast<int>(update->first), summary.updates, states};
                continue;
            }
            const json record = parse_line(text);
            const std::string& kind = string(member(record, "record"), 16, "a record kind");
            const int line = kind == "gauge" || kind == "end"
                                 ? 0
                                 : static_cast<int>(integer(member(record, "line"), 0, 1 << 30, "a scenario line number"));
            if (kind == "gauge") {
                if (summary.gauge) bad("a second gauge record");
                if (const json* number = optional_member(record, "format"))
                    format = static_cast<int>(integer(*number, 1, 1 << 20, "a trace format number"));
                if (format > trace_format)
                    bad("a trace of format " + std::to_string(format) + ", which this reader does not know (it reads 1 to " +
                        std::to_string(trace_format) + ")");
                summary.gauge = read_gauge(record);
            } else if (kind == "command") {
                summary.last_command_line = line;
                summary.last_command_text = kestrel::json::bytes_of(string(member(record, "text"), max_trace_line, "the command"));
            } else if (kind == "update") {
                summary.updates = static_cast<uint64_t>(integer(member(record, "update"), 0, int64_t{1} << 53, "an update number"));
                log_keys(summary, record, kind, line);
                if (select_update) {
                    apply_update_states(record, format, states);
                    if (*select_update == summary.updates)
                        summary.selected_update = Frame{"update-" + std::to_string(summary.updates), line, summary.updates, states};
                }
            } else if (kind == "click" || kind == "service") {
                log_keys(summary, record, kind, line);
                if (select_update) states = read_states(record);
            } else if (kind == "key") {
                summary.key_log.push_back(
                    {line, summary.updates, "scenario", kind, {word32(member(record, "id")), word32(member(record, "value"))}});
                log_keys(summary, record, kind, line);
                if (select_update) states = read_states(record);
            } else if (kind == "picture") {
                const std::string label = kestrel::json::bytes_of(string(member(record, "label"), 256, "a picture label"));
                // The label becomes a file name under --out: nothing but a plain name passes.
                if (!scenario::is_valid_picture_label(label))
                    bad("expected a picture label of letters, digits, '-', '_' or '.' (not first), at most 64");
                if (!picture_labels.insert(label).second) bad("picture label '" + label + "' appears twice");
                if (summary.pictures.size() == max_trace_pictures)
                    bad("more than " + std::to_string(max_trace_pictures) + " pictures");
                summary.pictures.push_back({label, line,
                                            static_cast<uint64_t>(integer(member(record, "updates"), 0, int64_t{1} << 53, "an update count")),
                                            read_states(record)});
                if (select_update) states = summary.pictures.back().elements;
            } else if (kind == "expect") {
                summary.expectations.push_back({line, kestrel::json::bytes_of(string(member(record, "command"), max_trace_line, "the command")),
                                                boolean(member(record, "passed")),
                                                kestrel::json::bytes_of(string(member(record, "message"), max_trace_line, "the message"))});
            } else if (kind == "expect_picture") {
                if (summary.picture_expectations.size() == max_trace_pictures)
                    bad("more than " + std::to_string(max_trace_pictures) + " picture expectations");
                PictureExpectation expect;
                expect.line = line;
                expect.command = kestrel::json::bytes_of(string(member(record, "command"), max_trace_line, "the command"));
                expect.reference = kestrel::json::bytes_of(string(member(record, "reference"), 256, "a reference picture"));
                // The bench reads, and may write, the reference: only a plain path below the
                // scenario's folder passes, as in the scenario itself.
                if (!scenario::is_valid_reference_path(expect.reference))
                    bad("expected a reference picture as a relative .png path of plain names");
                expect.tolerance = static_cast<uint64_t>(integer(member(record, "tolerance"), 0,
                                                                 static_cast<int64_t>(scenario::max_picture_tolerance),
                                                                 "a tolerance in pixels"));
                expect.frame = {"line-" + std::to_string(line), line,
                                static_cast<uint64_t>(integer(member(record, "updates"), 0, int64_t{1} << 53, "an update count")),
                                read_states(record)};
                // Every record that holds all elements is what later changes apply to.
                if (select_update) states = expect.frame.elements;
                summary.picture_expectations.push_back(std::move(expect));
            } else if (kind == "error") {
                summary.error = kestrel::json::bytes_of(string(member(record, "message"), max_trace_line, "the message"));
                summary.error_line = line;
            } else if (kind == "end") {
                summary.ended = true;
            } else if (kind != "set") {
                bad("unknown record \"" + kind + "\"");
            }
        } catch (const Malformed& error) {
            throw TraceError(path.string() + ":" + std::to_string(line_number) + ": " + error.what());
        } catch (const json::exception& error) {
            throw TraceError(path.string() + ":" + std::to_string(line_number) + ": " + error.what());
        }
    }
    return summary;
}

void check_gauge(const GaugeInfo& gauge, const std::string& what) {
    auto fail = [&](const std::string& why) { throw TraceError(what + ": " + why); };
    if (gauge.elements.size() > max_trace_elements)
        fail("more than " + std::to_string(max_trace_elements) + " elements");
    auto outside = [](Point p) { return p.x < -max_coordinate || p.x > max_coordinate || p.y < -max_coordinate || p.y > max_coordinate; };
    for (const ElementInfo& e : gauge.elements) {
        if (outside(e.position) || outside(e.anchor))
            fail("element " + e.label + " lies beyond +-" + std::to_string(max_coordinate) + " pixels");
        if (e.width < 0 || e.height < 0 || e.width > max_picture_side || e.height > max_picture_side)
            fail("element " + e.label + " has a read-out size beyond 0 to " + std::to_string(max_picture_side));
        if (e.char_count > max_char_count)
            fail("element " + e.label + " has a char_count beyond " + std::to_string(max_char_count));
        if (e.table.size() > max_table_points)
            fail("element " + e.label + " has more than " + std::to_string(max_table_points) + " table points");
        for (const TablePoint& point : e.table)
            if (outside(point.point)) fail("element " + e.label + " has a table point beyond +-" + std::to_string(max_coordinate));
    }
}

void check_frame(const GaugeInfo& gauge, const Frame& frame, const std::string& what) {
    if (frame.elements.size() != gauge.elements.size())
        throw TraceError(what + ": the frame has " + std::to_string(frame.elements.size()) +
                         " element states but the gauge has " + std::to_string(gauge.elements.size()) + " elements");
    for (const ElementState& state : frame.elements)
        if (state.text && state.text->size() > max_text_length)
            throw TraceError(what + ": a read-out text longer than " + std::to_string(max_text_length) + " bytes");
}

}  // namespace kestrel::trace
