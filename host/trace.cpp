// Writing and reading trace records. Element states are written as arrays in drawing
// order, matching the element list of the gauge record at the head of the trace.
#include "trace.h"

#include <fstream>

#include "json.h"

namespace kestrel::trace {
namespace {

void append_point(std::string& out, Point point) {
    out += '[';
    json::append_integer(out, point.x);
    out += ',';
    json::append_integer(out, point.y);
    out += ']';
}

void append_states(std::string& out, const std::vector<ElementState>& elements) {
    out += ",\"elements\":[";
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementState& state = elements[i];
        if (i > 0) out += ',';
        out += "{\"flags\":";
        json::append_integer(out, state.image_flags);
        if (state.value) {
            out += ",\"value\":";
            json::append_number(out, *state.value);
        }
        if (state.text) {
            out += ",\"text\":";
            json::append_string(out, *state.text);
        }
        out += '}';
    }
    out += ']';
}

void append_keys(std::string& out, const char* name, const std::vector<KeyEvent>& events) {
    out += ",\"";
    out += name;
    out += "\":[";
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i > 0) out += ',';
        out += '[';
        json::append_integer(out, events[i].id);
        out += ',';
        json::append_integer(out, events[i].value);
        out += ']';
    }
    out += ']';
}

std::string open_record(std::string_view kind, int line) {
    std::string out = "{\"record\":\"";
    out += kind;
    out += "\",\"line\":";
    json::append_integer(out, line);
    return out;
}

std::vector<ElementState> read_states(const json::Value& record) {
    std::vector<ElementState> states;
    for (const json::Value& item : record.at("elements").array()) {
        ElementState state;
        state.image_flags = item.at("flags").word32();
        if (const json::Value* value = item.find("value")) state.value = value->number();
        if (const json::Value* text = item.find("text")) state.text = json::bytes_of(text->string());
        states.push_back(std::move(state));
    }
    return states;
}

Point read_point(const json::Value& value) {
    const json::Array& pair = value.array();
    if (pair.size() != 2) throw json::JsonError("expected a point [x, y]");
    return {static_cast<int32_t>(pair[0].integer()), static_cast<int32_t>(pair[1].integer())};
}

GaugeInfo read_gauge(const json::Value& record) {
    GaugeInfo gauge;
    gauge.scenario = record.at("scenario").string();
    gauge.module = record.at("module").string();
    gauge.module_file = record.at("module_file").string();
    gauge.gauge = record.at("gauge").string();
    for (const json::Value& item : record.at("elements").array()) {
        ElementInfo info;
        info.label = item.at("label").string();
        info.kind = item.at("kind").word32();
        info.resource_id = item.at("resource_id").word32();
        info.position = read_point(item.at("position"));
        info.anchor = read_point(item.at("anchor"));
        info.image_flags = item.at("flags").word32();
        if (info.kind == kind_string) {
            const Point size = read_point(item.at("size"));
            info.width = size.x;
            info.height = size.y;
            info.fore_colour = item.at("fore_colour").word32();
            info.back_colour = item.at("back_colour").word32();
            info.char_count = item.at("char_count").word32();
            info.font_name = json::bytes_of(item.at("font").string());
        }
        if (info.kind == kind_icon) {
            info.icon_count = item.at("icon_count").word32();
            info.icon_switch = item.at("icon_switch").word32();
        }
        if (const json::Value* table = item.find("table")) {
            for (const json::Value& entry : table->array()) {
                const json::Array& fields = entry.array();
                if (fields.size() != 3) throw json::JsonError("expected a table entry [x, y, value]");
                info.table.push_back({{static_cast<int32_t>(fields[0].integer()), static_cast<int32_t>(fields[1].integer())},
                                      fields[2].number()});
            }
        }
        gauge.elements.push_back(std::move(info));
    }
    return gauge;
}

void log_keys(TraceSummary& summary, const json::Value& record, const std::string& kind, int line) {
    const json::Value* sent = record.find("sent");
    if (sent == nullptr) return;
    for (const json::Value& pair : sent->array()) {
        const json::Array& fields = pair.array();
        if (fields.size() != 2) throw json::JsonError("expected a key event [id, value]");
        summary.key_log.push_back({line, summary.updates, "module", kind, {fields[0].word32(), fields[1].word32()}});
    }
}

}  // namespace

TraceWriter::TraceWriter(const std::filesystem::path& path) : path_(path) {
    file_ = std::fopen(path.string().c_str(), "wb");
    if (file_ == nullptr) throw TraceError(path.string() + ": cannot create the trace file");
}

TraceWriter::~TraceWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void TraceWriter::write_line(const std::string& line, bool flush) {
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fputc('\n', file_) == EOF ||
        (flush && std::fflush(file_) != 0))
        throw TraceError(path_.string() + ": cannot write the trace (disk full?)");
}

void TraceWriter::gauge(const GaugeInfo& gauge) {
    std::string out = "{\"record\":\"gauge\",\"scenario\":";
    json::append_string(out, gauge.scenario);
    out += ",\"module\":";
    json::append_string(out, gauge.module);
    out += ",\"module_file\":";
    json::append_string(out, gauge.module_file);
    out += ",\"gauge\":";
    json::append_string(out, gauge.gauge);
    out += ",\"elements\":[";
    for (std::size_t i = 0; i < gauge.elements.size(); ++i) {
        const ElementInfo& e = gauge.elements[i];
        if (i > 0) out += ',';
        out += "{\"label\":";
        json::append_string(out, e.label);
        out += ",\"kind\":";
        json::append_integer(out, e.kind);
        out += ",\"resource_id\":";
        json::append_integer(out, e.resource_id);
        out += ",\"position\":";
        append_point(out, e.position);
        out += ",\"anchor\":";
        append_point(out, e.anchor);
        out += ",\"flags\":";
        json::append_integer(out, e.image_flags);
        if (e.kind == kind_string) {
            out += ",\"size\":";
            append_point(out, {e.width, e.height});
            out += ",\"fore_colour\":";
            json::append_integer(out, e.fore_colour);
            out += ",\"back_colour\":";
            json::append_integer(out, e.back_colour);
            out += ",\"char_count\":";
            json::append_integer(out, e.char_count);
            out += ",\"font\":";
            json::append_string(out, e.font_name);
        }
        if (e.kind == kind_icon) {
            out += ",\"icon_count\":";
            json::append_integer(out, e.icon_count);
            out += ",\"icon_switch\":";
            json::append_integer(out, e.icon_switch);
        }
        if (!e.table.empty()) {
            out += ",\"table\":[";
            for (std::size_t t = 0; t < e.table.size(); ++t) {
                if (t > 0) out += ',';
                out += '[';
                json::append_integer(out, e.table[t].point.x);
                out += ',';
                json::append_integer(out, e.table[t].point.y);
                out += ',';
                json::append_number(out, e.table[t].value);
                out += ']';
            }
            out += ']';
        }
        out += '}';
    }
    out += "]}";
    write_line(out, true);
}

void TraceWriter::command(int line, std::string_view text) {
    std::string out = open_record("command", line);
    out += ",\"text\":";
    json::append_string(out, text);
    out += '}';
    write_line(out, true);
}

void TraceWriter::set_variable(int line, uint32_t token, double value) {
    std::string out = open_record("set", line);
    out += ",\"token\":";
    json::append_integer(out, token);
    out += ",\"value\":";
    json::append_number(out, value);
    out += '}';
    write_line(out, false);
}

void TraceWriter::update(int line, uint64_t update, const std::vector<ElementState>& elements,
                         const std::vector<KeyEvent>& sent) {
    std::string out = open_record("update", line);
    out += ",\"update\":";
    json::append_integer(out, static_cast<int64_t>(update));
    append_keys(out, "sent", sent);
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::click(int line, int32_t x, int32_t y, uint32_t flags, std::optional<std::size_t> area,
                        const std::vector<ElementState>& elements, const std::vector<KeyEvent>& sent) {
    std::string out = open_record("click", line);
    out += ",\"at\":";
    append_point(out, {x, y});
    out += ",\"flags\":";
    json::append_integer(out, flags);
    out += ",\"area\":";
    if (area) json::append_integer(out, static_cast<int64_t>(*area));
    else out += "null";
    append_keys(out, "sent", sent);
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::service(int line, int32_t service_id, uint32_t extra, bool called,
                          const std::vector<ElementState>& elements, const std::vector<KeyEvent>& sent) {
    std::string out = open_record("service", line);
    out += ",\"id\":";
    json::append_integer(out, service_id);
    out += ",\"extra\":";
    json::append_integer(out, extra);
    out += ",\"called\":";
    out += called ? "true" : "false";
    append_keys(out, "sent", sent);
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::key(int line, KeyEvent event, const std::vector<ElementState>& elements,
                      const std::vector<KeyEvent>& sent) {
    std::string out = open_record("key", line);
    out += ",\"id\":";
    json::append_integer(out, event.id);
    out += ",\"value\":";
    json::append_integer(out, event.value);
    append_keys(out, "sent", sent);
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::picture(int line, std::string_view label, uint64_t updates,
                          const std::vector<ElementState>& elements) {
    std::string out = open_record("picture", line);
    out += ",\"label\":";
    json::append_string(out, label);
    out += ",\"updates\":";
    json::append_integer(out, static_cast<int64_t>(updates));
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::expectation(int line, std::string_view command, bool passed, std::string_view message) {
    std::string out = open_record("expect", line);
    out += ",\"command\":";
    json::append_string(out, command);
    out += ",\"passed\":";
    out += passed ? "true" : "false";
    out += ",\"message\":";
    json::append_string(out, message);
    out += '}';
    write_line(out, false);
}

void TraceWriter::error(int line, std::string_view message) {
    std::string out = open_record("error", line);
    out += ",\"message\":";
    json::append_string(out, message);
    out += '}';
    write_line(out, true);
}

void TraceWriter::end(int passed, int failed) {
    std::string out = "{\"record\":\"end\",\"passed\":";
    json::append_integer(out, passed);
    out += ",\"failed\":";
    json::append_integer(out, failed);
    out += '}';
    write_line(out, true);
}

TraceSummary read_trace(const std::filesystem::path& path, std::optional<uint64_t> select_update) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TraceError(path.string() + ": cannot open the trace");
    TraceSummary summary;
    std::string text;
    int line_number = 0;
    while (std::getline(in, text)) {
        ++line_number;
        // A line without its newline is the last one, cut short when the run died.
        if (in.eof()) break;
        if (text.empty()) continue;
        try {
            const json::Value record = json::parse(text);
            const std::string& kind = record.at("record").string();
            const int line = kind == "gauge" || kind == "end" ? 0 : static_cast<int>(record.at("line").integer());
            if (kind == "gauge") {
                summary.gauge = read_gauge(record);
            } else if (kind == "command") {
                summary.last_command_line = line;
                summary.last_command_text = json::bytes_of(record.at("text").string());
            } else if (kind == "update") {
                summary.updates = static_cast<uint64_t>(record.at("update").integer());
                log_keys(summary, record, kind, line);
                if (select_update && *select_update == summary.updates)
                    summary.selected_update =
                        Frame{"update-" + std::to_string(summary.updates), line, summary.updates, read_states(record)};
            } else if (kind == "click" || kind == "service") {
                log_keys(summary, record, kind, line);
            } else if (kind == "key") {
                summary.key_log.push_back(
                    {line, summary.updates, "scenario", kind, {record.at("id").word32(), record.at("value").word32()}});
                log_keys(summary, record, kind, line);
            } else if (kind == "picture") {
                summary.pictures.push_back({json::bytes_of(record.at("label").string()), line,
                                            static_cast<uint64_t>(record.at("updates").integer()), read_states(record)});
            } else if (kind == "expect") {
                summary.expectations.push_back({line, json::bytes_of(record.at("command").string()),
                                                record.at("passed").boolean(),
                                                json::bytes_of(record.at("message").string())});
            } else if (kind == "error") {
                summary.error = json::bytes_of(record.at("message").string());
                summary.error_line = line;
            } else if (kind == "end") {
                summary.ended = true;
            } else if (kind != "set") {
                throw json::JsonError("unknown record \"" + kind + "\"");
            }
        } catch (const json::JsonError& error) {
            throw TraceError(path.string() + ":" + std::to_string(line_number) + ": " + error.what());
        }
    }
    return summary;
}

void check_frame(const GaugeInfo& gauge, const Frame& frame, const std::string& what) {
    if (frame.elements.size() != gauge.elements.size())
        throw TraceError(what + ": the frame has " + std::to_string(frame.elements.size()) +
                         " element states but the gauge has " + std::to_string(gauge.elements.size()) + " elements");
}

}  // namespace kestrel::trace
