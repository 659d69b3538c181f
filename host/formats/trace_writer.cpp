// Writing trace records, one line each, by hand: the writer is the hot path of a long run
// (every update writes every element), and appending to one string is faster than
// building a document first. Element states are arrays in drawing order, matching the
// element list of the gauge record at the head of the trace.
#include "trace.h"

#include <algorithm>
#include <cstring>

#include "json.h"

namespace kestrel::trace {

void append_key_events(std::string& out, const std::vector<KeyEvent>& events) {
    out += '[';
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

namespace {

void append_point(std::string& out, Point point) {
    out += '[';
    json::append_integer(out, point.x);
    out += ',';
    json::append_integer(out, point.y);
    out += ']';
}

void append_state(std::string& out, const ElementState& state) {
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

// The same state as written before: value bits, flags and text all equal. Asked for every
// element at every update, so the cheap words are compared first.
inline bool same_state(const ElementState& a, const ElementState& b) {
    if (a.image_flags != b.image_flags || a.value.has_value() != b.value.has_value()) return false;
    if (a.value && std::memcmp(&*a.value, &*b.value, sizeof(double)) != 0) return false;
    if (a.text.has_value() != b.text.has_value()) return false;
    if (!a.text) return true;
    // A read-out's text is a few characters: compared in place rather than through memcmp.
    const std::size_t size = a.text->size();
    if (size != b.text->size()) return false;
    const char* x = a.text->data();
    const char* y = b.text->data();
    for (std::size_t i = 0; i < size; ++i)
        if (x[i] != y[i]) return false;
    return true;
}

void append_keys(std::string& out, const char* name, const std::vector<KeyEvent>& events) {
    out += ",\"";
    out += name;
    out += "\":";
    append_key_events(out, events);
}

}  // namespace

// Most elements show what they showed in the record before: their text is copied from
// the last one written instead of being formatted again, byte for byte the same.
const std::string& TraceWriter::state_text(std::size_t i, const ElementState& state) {
    std::string& text = written_texts_[i];
    if (text.empty() || !same_state(state, written_states_[i])) {
        text.clear();
        append_state(text, state);
        written_states_[i] = state;
    }
    return text;
}

void TraceWriter::append_states(std::string& out, const std::vector<ElementState>& elements,
                                std::optional<uint64_t> version) {
    written_from_ = &elements;
    written_version_ = version;
    if (written_states_.size() != elements.size()) {
        written_states_.assign(elements.size(), {});
        written_texts_.assign(elements.size(), {});
    }
    out += ",\"elements\":[";
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0) out += ',';
        out += state_text(i, elements[i]);
    }
    out += ']';
}

void TraceWriter::append_changes(std::string& out, const std::vector<ElementState>& elements,
                                 std::optional<uint64_t> version) {
    // The same states as written last: nothing to compare.
    if (version && version == written_version_ && &elements == written_from_) return;
    written_from_ = &elements;
    written_version_ = version;
    bool first = true;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (!written_texts_[i].empty() && same_state(elements[i], written_states_[i])) continue;
        out += first ? ",\"changed\":[[" : ",[";
        first = false;
        json::append_integer(out, static_cast<int64_t>(i));
        out += ',';
        out += state_text(i, elements[i]);
        out += ']';
    }
    if (!first) out += ']';
}

std::string& TraceWriter::fresh_line() {
    line_.clear();  // keeps its capacity: one allocation for the whole run
    return line_;
}

std::string& TraceWriter::open_record(std::string_view kind, int line) {
    std::string& out = fresh_line();
    out += "{\"record\":\"";
    out += kind;
    out += "\",\"line\":";
    json::append_integer(out, line);
    return out;
}

TraceWriter::TraceWriter(const std::filesystem::path& path) : path_(path) {
    file_ = std::fopen(path.string().c_str(), "wb");
    if (file_ == nullptr) throw TraceError(path.string() + ": cannot create the trace file");
    // A long run writes tens of megabytes: records gather in one large block, handed to
    // the file whole, which keeps the system calls few and costs a record one copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    block_.resize(1 << 18);
}

TraceWriter::~TraceWriter() {
    if (file_ == nullptr) return;
    // What a run that stopped on an exception wrote is kept; nobody is left to tell of a
    // failed write.
    if (block_used_ != 0) std::fwrite(block_.data(), 1, block_used_, file_);
    std::fclose(file_);
}

void TraceWriter::write_bytes(const char* bytes, std::size_t size, bool flush) {
    if ((size != 0 && std::fwrite(bytes, 1, size, file_) != size) || (flush && std::fflush(file_) != 0))
        throw TraceError(path_.string() + ": cannot write the trace (disk full?)");
}

void TraceWriter::write_block(bool flush) {
    const std::size_t size = block_used_;
    block_used_ = 0;
    write_bytes(block_.data(), size, flush);
}

void TraceWriter::write_line(std::string& line, bool flush) {
    line.push_back('\n');
    write_record(line.data(), line.size(), flush);
}

void TraceWriter::write_record(const char* record, std::size_t size, bool flush) {
    written_ += size;
    if (written_ > max_trace_bytes)
        throw TraceError(path_.string() + ": the trace would outgrow " + std::to_string(max_trace_bytes >> 20) +
                         " MiB: the gauge changes more at every update than a trace holds for so many");
    if (block_used_ + size > block_.size()) write_block(false);
    if (size > block_.size()) {
        write_bytes(record, size, false);
    } else {
        std::memcpy(block_.data() + block_used_, record, size);
        block_used_ += size;
    }
    if (flush) write_block(true);
}

void TraceWriter::gauge(const GaugeInfo& gauge) {
    std::string& out = fresh_line();
    out += "{\"record\":\"gauge\",\"format\":";
    json::append_integer(out, trace_format);
    out += ",\"scenario\":";
    json::append_string(out, gauge.scenario);
    out += ",\"module\":";
    json::append_string(out, gauge.module);
    out += ",\"module_file\":";
    json::append_string(out, gauge.module_file);
    out += ",\"gauge\":";
    json::append_string(out, gauge.gauge);
    if (gauge.size_x_mm) {
        out += ",\"size_x_mm\":";
        json::append_integer(out, *gauge.size_x_mm);
    }
    if (!gauge.areas.empty()) {
        out += ",\"areas\":[";
        for (std::size_t i = 0; i < gauge.areas.size(); ++i) {
            const ClickArea& area = gauge.areas[i];
            if (i > 0) out += ',';
            out += "{\"kind\":";
            json::append_string(out, area.parent ? "parent" : "child");
            out += ",\"box\":";
            char separator = '[';
            for (const int32_t n : {area.x, area.y, area.width, area.height}) {
                out += separator;
                json::append_integer(out, n);
                separator = ',';
            }
            out += "],\"whole\":";
            out += area.whole_gauge ? "true" : "false";
            out += ",\"help\":";
            json::append_integer(out, area.help_id);
            if (area.tooltip) {
                out += ",\"tooltip\":";
                json::append_string(out, *area.tooltip);
            }
            out += '}';
        }
        out += ']';
    }
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
    std::string& out = open_record("command", line);
    out += ",\"text\":";
    json::append_string(out, text);
    out += '}';
    write_line(out, true);
}

void TraceWriter::set_variable(int line, uint32_t token, double value) {
    std::string& out = open_record("set", line);
    out += ",\"token\":";
    json::append_integer(out, token);
    out += ",\"value\":";
    json::append_number(out, value);
    out += '}';
    write_line(out, false);
}

void TraceWriter::update(int line, uint64_t update, const std::vector<ElementState>& elements,
                         const std::vector<KeyEvent>& sent, std::optional<uint64_t> version) {
    // Most updates of a run are past their thousands, and a 32-bit remainder is a multiply.
    const bool full = (update <= UINT32_MAX ? static_cast<uint32_t>(update) % full_record_interval
                                            : update % full_record_interval) == 0 ||
                      written_states_.size() != elements.size();
    if (!full && sent.empty() && version && version == written_version_ && &elements == written_from_) {
        // An update that changed nothing and sent nothing is its line and number alone: the
        // commonest record of a long run, composed in place.
        constexpr std::string_view head = "{\"record\":\"update\",\"line\":";
        constexpr std::string_view middle = ",\"update\":";
        char record[head.size() + middle.size() + 2 * 20 + 3];
        char* at = std::copy(head.begin(), head.end(), record);
        at = json::write_integer(at, line);
        at = std::copy(middle.begin(), middle.end(), at);
        at = json::write_integer(at, static_cast<int64_t>(update));
        *at++ = '}';
        *at++ = '\n';
        write_record(record, static_cast<std::size_t>(at - record), false);
        return;
    }
    std::string& out = open_record("update", line);
    out += ",\"update\":";
    json::append_integer(out, static_cast<int64_t>(update));
    if (!sent.empty()) append_keys(out, "sent", sent);
    if (full) append_states(out, elements, version);
    else append_changes(out, elements, version);
    out += '}';
    write_line(out, false);
}

void TraceWriter::click(int line, int32_t x, int32_t y, uint32_t flags, std::optional<std::size_t> area,
                        const std::vector<ElementState>& elements, const std::vector<KeyEvent>& sent) {
    std::string& out = open_record("click", line);
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
    std::string& out = open_record("service", line);
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
    std::string& out = open_record("key", line);
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
    std::string& out = open_record("picture", line);
    out += ",\"label\":";
    json::append_string(out, label);
    out += ",\"updates\":";
    json::append_integer(out, static_cast<int64_t>(updates));
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::expectation(int line, std::string_view command, bool passed, std::string_view message) {
    std::string& out = open_record("expect", line);
    out += ",\"command\":";
    json::append_string(out, command);
    out += ",\"passed\":";
    out += passed ? "true" : "false";
    out += ",\"message\":";
    json::append_string(out, message);
    out += '}';
    write_line(out, false);
}

void TraceWriter::picture_expectation(int line, std::string_view command, std::string_view reference, uint64_t tolerance,
                                      uint64_t updates, const std::vector<ElementState>& elements) {
    std::string& out = open_record("expect_picture", line);
    out += ",\"command\":";
    json::append_string(out, command);
    out += ",\"reference\":";
    json::append_string(out, reference);
    out += ",\"tolerance\":";
    json::append_integer(out, static_cast<int64_t>(tolerance));
    out += ",\"updates\":";
    json::append_integer(out, static_cast<int64_t>(updates));
    append_states(out, elements);
    out += '}';
    write_line(out, false);
}

void TraceWriter::error(int line, std::string_view message) {
    std::string& out = open_record("error", line);
    out += ",\"message\":";
    json::append_string(out, message);
    out += '}';
    write_line(out, true);
}

void TraceWriter::end(int passed, int failed) {
    std::string& out = fresh_line();
    out += "{\"record\":\"end\",\"passed\":";
    json::append_integer(out, passed);
    out += ",\"failed\":";
    json::append_integer(out, failed);
    out += '}';
    write_line(out, true);
}

}  // namespace kestrel::trace
