// Driving one gauge: the host's side of every entry into the gauge's code, with the
// read-out buffers checked after each entry so that no overrun passes unseen.
#include "driver.h"

#include "scenario.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

struct GaugeDriver::TextBuffer {
    std::size_t element_index;
    StringElement* element;
    uint32_t char_count;
    std::vector<char> bytes;  // char_count + 1 bytes of text, then the guard bytes
};

namespace {

constexpr std::string_view routine_names[] = {"query", "install", "initialize", "update",
                                              "generate", "draw", "kill"};

}  // namespace

std::string_view standard_routine_name(StandardRoutineId routine) {
    const int number = static_cast<int>(routine);
    return number >= 1 && number <= 7 ? routine_names[number - 1] : "unknown";
}

std::optional<StandardRoutineId> standard_routine_by_name(std::string_view name) {
    if (name.size() == 1 && name[0] >= '1' && name[0] <= '7') return StandardRoutineId{name[0] - '0'};
    constexpr std::string_view suffix = "_routine";
    if (name.size() > suffix.size() && name.ends_with(suffix)) name.remove_suffix(suffix.size());
    for (int i = 0; i < 7; ++i)
        if (name == routine_names[i]) return StandardRoutineId{i + 1};
    return std::nullopt;
}

GaugeDriver::GaugeDriver(LoadedModule& module, PanelHost& host, std::string_view gauge_name)
    : GaugeDriver(module.gauge(gauge_name), host, RecordBounds{module.image_begin(), module.image_end()}) {}

GaugeDriver::GaugeDriver(GaugeHeader& header, PanelHost& host, const RecordBounds& bounds)
    : header_(&header), host_(&host), bounds_(bounds) {
    if (bounds_.bounded()) bounds_.check(header_->element_list, "gauge " + name() + ": element_list");
    elements_ = read_element_tree(root(), bounds_);
    if (header.mouse_rect_list != nullptr) mouse_list_ = read_mouse_list(header.mouse_rect_list, bounds_);
    provide_text_buffers();
}

GaugeDriver::~GaugeDriver() {
    // The module outlives this driver: leave it no pointer into freed buffers.
    for (const auto& buffer : buffers_)
        if (buffer->element->text == buffer->bytes.data()) buffer->element->text = nullptr;
}

std::string GaugeDriver::name() const { return gauge_name_of(*header_); }

ElementHeader* GaugeDriver::root() const {
    if (header_->element_list == nullptr) throw HostError("gauge " + name() + ": element_list is NULL");
    return *header_->element_list;
}

void GaugeDriver::provide_text_buffers() {
    for (const ElementEntry& entry : elements_) {
        if (entry.element->element_kind != string_element) continue;
        auto& readout = reinterpret_cast<StringElement&>(*entry.element);
        if (readout.char_count > max_char_count)
            throw HostError("gauge " + name() + ": read-out " + entry.label + " claims " +
                            std::to_string(readout.char_count) + " characters (at most " +
                            std::to_string(max_char_count) + " are accepted)");
        auto buffer = std::make_unique<TextBuffer>();
        buffer->element_index = entry.index;
        buffer->element = &readout;
        buffer->char_count = readout.char_count;
        buffer->bytes.assign(readout.char_count + 1, '\0');
        buffer->bytes.insert(buffer->bytes.end(), text_guard_size, static_cast<char>(text_guard_byte));
        readout.text = buffer->bytes.data();
        buffers_.push_back(std::move(buffer));
    }
}

void GaugeDriver::check_text_buffers(std::string_view after, std::string_view element_label) const {
    // Runs after every entry into the module: the report is composed only on a fault.
    for (const auto& buffer : buffers_) {
        const auto where = [&] {
            return "gauge " + name() + ": read-out " + elements_[buffer->element_index].label + " (element " +
                   std::to_string(buffer->element_index) + ", char_count " + std::to_string(buffer->char_count) +
                   "): " + std::string(after) + std::string(element_label);
        };
        char* text = buffer->bytes.data();
        const std::size_t text_size = buffer->char_count + 1;
        if (buffer->element->text != text) throw HostError(where() + " replaced the host's text pointer");
        // Runs after every callback: the guard is compared as two words, not byte by byte.
        static_assert(text_guard_size == 2 * sizeof(uint64_t));
        constexpr uint64_t intact_word = 0x0101010101010101ull * text_guard_byte;
        uint64_t guard[2];
        std::memcpy(guard, text + text_size, sizeof guard);
        const bool guards_intact = guard[0] == intact_word && guard[1] == intact_word;
        const bool terminated = std::memchr(text, '\0', text_size) != nullptr;
        if (guards_intact && terminated) continue;
        // Restore the buffer so that the driver stays usable after the report.
        std::fill(text + text_size, text + text_size + text_guard_size, static_cast<char>(text_guard_byte));
        text[buffer->char_count] = '\0';
        throw HostError(where() + (guards_intact ? " left the text without a NUL within its buffer"
                                       : " wrote past the end of the text buffer"));
    }
}

ElementHeader& GaugeDriver::element(std::size_t index) const {
    if (index >= elements_.size())
        throw HostError("gauge " + name() + ": no element " + std::to_string(index) + " (it has " +
                        std::to_string(elements_.size()) + ")");
    return *elements_[index].element;
}

std::size_t GaugeDriver::element_index(std::string_view label) const {
    if (const std::optional<std::size_t> index = scenario::element_index_label(label)) {
        if (*index < elements_.size()) return *index;
    } else {
        for (const ElementEntry& entry : elements_)
            if (entry.label == label) return entry.index;
    }
    throw HostError("gauge " + name() + " has no element " + std::string(label) + " (it has [0] to [" +
                    std::to_string(elements_.size() - 1) + "] in drawing order, as kestrel-host inspect lists them)");
}

std::string GaugeDriver::text(std::size_t index) const {
    const ElementHeader& header = element(index);
    if (header.element_kind != string_element)
        throw HostError("gauge " + name() + ": element " + elements_[index].label + " is a " +
                        std::string(element_kind_name(header.element_kind)) + ", not a read-out");
    const auto& readout = reinterpret_cast<const StringElement&>(header);
    const char* text = readout.text;
    if (text == nullptr) return {};
    const std::size_t limit = std::size_t{readout.char_count} + 1;
    const auto* end = static_cast<const char*>(std::memchr(text, '\0', limit));
    return std::string(text, end != nullptr ? static_cast<std::size_t>(end - text) : limit);
}

uint32_t GaugeDriver::run_standard_routine(StandardRoutineId routine, uint32_t host_value) {
    const GaugeHeader& h = *header_;
    // Calls the routine if the header names one; nullopt for a NULL pointer.
    auto call = [](auto pointer, auto... arguments) -> std::optional<uint32_t> {
        if (pointer == nullptr) return std::nullopt;
        return pointer(arguments...);
    };
    std::optional<uint32_t> result;
    switch (routine) {
        case StandardRoutineId::query: result = call(h.query_routine); break;
        case StandardRoutineId::install: result = call(h.install_routine, host_value); break;
        case StandardRoutineId::initialize: result = call(h.initialize_routine); break;
        case StandardRoutineId::update: result = call(h.update_routine); break;
        case StandardRoutineId::generate: result = call(h.generate_routine, host_value); break;
        case StandardRoutineId::draw: result = call(h.draw_routine); break;
        case StandardRoutineId::kill: result = call(h.kill_routine); break;
    }
    const std::string routine_field = std::string(standard_routine_name(routine)) + "_routine";
    if (!result) throw HostError("gauge " + name() + ": " + routine_field + " is NULL");
    check_text_buffers(routine_field);
    return *result;
}

uint32_t GaugeDriver::run_standard_routine(std::string_view routine_name, uint32_t host_value) {
    const auto routine = standard_routine_by_name(routine_name);
    if (!routine)
        throw HostError("no standard routine \"" + std::string(routine_name) +
                        "\" (query, install, initialize, update, generate, draw, kill or 1..7)");
    return run_standard_routine(*routine, host_value);
}

std::vector<KeyEvent> GaugeDriver::events_since(std::size_t log_size) const {
    const auto& log = host_->key_events_sent();
    return {log.begin() + static_cast<std::ptrdiff_t>(log_size), log.end()};
}

namespace {

void refresh(ModuleVar& variable, const PanelHost& host) {
    if (variable.token != 0) variable.value = host.var(variable.token);
}

// The host refreshes the variables embedded in an element before calling its callback.
void refresh_embedded_vars(ElementHeader& element, const PanelHost& host) {
    switch (element.element_kind) {
        case needle_element: refresh(reinterpret_cast<NeedleElement&>(element).source_var, host); break;
        case icon_element: refresh(reinterpret_cast<IconElement&>(element).source_var, host); break;
        case string_element:
            for (ModuleVar& variable : reinterpret_cast<StringElement&>(element).source_vars) refresh(variable, host);
            break;
        default: break;
    }
}

}  // namespace

UpdateResult GaugeDriver::update() {
    UpdateResult result;
    update(result);
    return result;
}

void GaugeDriver::update(UpdateResult& result) {
    const std::size_t log_size = host_->key_events_sent().size();
    result.samples.resize(elements_.size());
    for (const ElementEntry& entry : elements_) {
        ElementHeader& element = *entry.element;
        ElementSample& sample = result.samples[entry.index];
        sample.index = entry.index;
        sample.label = entry.label;
        sample.kind = element.element_kind;
        sample.resource_id = element.resource_id;
        sample.value.reset();
        if (const ElementCallback callback = value_callback_of(element)) {
            refresh_embedded_vars(element, *host_);
            sample.value = callback(&element);
            check_text_buffers("the callback of element ", entry.label);
        }
        sample.image_flags = element.image_flags;
        if (element.element_kind == string_element) sample.text = text(entry.index);
        else sample.text.reset();
    }
    host_->deliver_pending_key_events();
    check_text_buffers("a key-event listener");
    result.key_events = events_since(log_size);
}

ClickResult GaugeDriver::click(int32_t x, int32_t y, uint32_t flags) {
    // A record is under the point when its box and every enclosing parent's box hold it.
    auto under_point = [&](const MouseListEntry& entry) {
        for (const MouseListEntry* each = &entry;; each = &mouse_list_[*each->parent]) {
            if (!each->whole_gauge && !box_contains(each->box, x, y)) return false;
            if (!each->parent) return true;
        }
    };

    ClickResult result;
    std::size_t help_depth = 0;
    bool help_found = false;
    for (const MouseListEntry& entry : mouse_list_) {
        const MouseRect& record = *entry.record;
        if (record.rect_kind == mouse_parent && (record.help_id != 0 || entry.tooltip != nullptr) &&
            (!help_found || entry.depth > help_depth) && under_point(entry)) {
            help_found = true;
            help_depth = entry.depth;
            result.help_id = record.help_id;
            result.tooltip = entry.tooltip != nullptr ? std::optional(cp1252_to_utf8(entry.tooltip)) : std::nullopt;
        }
        if (record.rect_kind == mouse_child && !result.area && (record.mouse_flags & flags) != 0 &&
            under_point(entry)) {
            if (record.target.handler == nullptr)
                throw HostError("gauge " + name() + ": click area at record " + std::to_string(entry.index) +
                                " has no handler");
            result.area = entry.index;
            result.handler = record.target.handler;
        }
    }
    if (!result.area) return result;

    const std::size_t log_size = host_->key_events_sent().size();
    const PixelPoint point{x, y};
    result.result = result.handler(&point, flags);
    check_text_buffers("the click handler of record " + std::to_string(*result.area));
    host_->deliver_pending_key_events();
    check_text_buffers("a key-event listener");
    result.key_events = events_since(log_size);
    return result;
}

GaugeCallbackResult GaugeDriver::gauge_callback(int32_t service_id, uint32_t extra) {
    GaugeCallbackResult result;
    const std::size_t log_size = host_->key_events_sent().size();
    if (header_->gauge_callback != nullptr) {
        result.called = true;
        header_->gauge_callback(header_, service_id, extra);
        check_text_buffers("the gauge callback");
    }
    host_->deliver_pending_key_events();
    check_text_buffers("a key-event listener");
    result.key_events = events_since(log_size);
    return result;
}

}  // namespace kestrel
