// Applying one action to the gauges of a module: each entry goes through the gauge driver,
// which checks the read-out buffers after it; the executor adds the checks that span
// gauges and keeps what the gauges show between actions.
#include "executor.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <variant>

namespace kestrel {
namespace {

// Upper bound on a needle table: a count beyond it is a broken record, not a table.
constexpr uint32_t max_table_entries = 4096;

}  // namespace

PanelExecutor::PanelExecutor(PanelHost& host, std::vector<GaugeDriver*> gauges) : host_(host) {
    if (gauges.empty()) throw HostError("no gauge to drive");
    for (GaugeDriver* driver : gauges) {
        gauges_.emplace_back().driver = driver;
    }
}

ActionReport PanelExecutor::report() const {
    ActionReport report;
    report.sent.resize(gauges_.size());
    return report;
}

void PanelExecutor::check_all(std::string_view after) const {
    for (const Gauge& gauge : gauges_) gauge.driver->check_text_buffers(after);
}

std::vector<KeyEvent> PanelExecutor::sent_since(std::size_t log_size) const {
    const auto& log = host_.key_events_sent();
    return {log.begin() + static_cast<std::ptrdiff_t>(log_size), log.end()};
}

void PanelExecutor::set_var(uint32_t token, double value) { host_.set_var(token, value); }

ActionReport PanelExecutor::update(uint64_t count, const UpdateObserver& after_each) {
    ActionReport out = report();
    for (uint64_t i = 0; i < count; ++i) {
        for (std::size_t g = 0; g < gauges_.size(); ++g) {
            Gauge& gauge = gauges_[g];
            // Filled aside and taken only when whole: an update stopped by a fault leaves
            // the values of the last complete one.
            gauge.driver->update(gauge.next);
            std::swap(gauge.last, gauge.next);
            // The update's listeners may have written into another gauge's read-outs.
            if (gauges_.size() > 1) check_all("a key-event listener");
            out.sent[g].insert(out.sent[g].end(), gauge.last.key_events.begin(), gauge.last.key_events.end());
        }
        ++updates_;
        ++out.updates;
        if (after_each) after_each(updates_);
    }
    return out;
}

ActionReport PanelExecutor::click(std::size_t gauge, int32_t x, int32_t y, uint32_t flags) {
    ActionReport out = report();
    ClickResult result = driver(gauge).click(x, y, flags);
    if (gauges_.size() > 1) check_all("a key-event listener");
    out.area = result.area;
    out.sent[gauge] = std::move(result.key_events);
    return out;
}

ActionReport PanelExecutor::service(std::size_t gauge, int32_t service_id, uint32_t extra) {
    ActionReport out = report();
    GaugeCallbackResult result = driver(gauge).gauge_callback(service_id, extra);
    if (gauges_.size() > 1) check_all("a key-event listener");
    out.called = result.called;
    out.sent[gauge] = std::move(result.key_events);
    return out;
}

ActionReport PanelExecutor::key(std::size_t gauge, KeyEvent event) {
    ActionReport out = report();
    driver(gauge);  // the gauge must exist before anything is sent
    const std::size_t log_size = host_.key_events_sent().size();
    host_.send_key_event(event.id, event.value);
    host_.deliver_pending_key_events();
    check_all("a key-event listener");
    out.sent[gauge] = sent_since(log_size);
    return out;
}

ActionReport PanelExecutor::standard_routine(std::size_t gauge, StandardRoutineId routine, uint32_t host_value) {
    ActionReport out = report();
    const std::size_t log_size = host_.key_events_sent().size();
    driver(gauge).run_standard_routine(routine, host_value);
    host_.deliver_pending_key_events();
    check_all("a key-event listener");
    out.sent[gauge] = sent_since(log_size);
    return out;
}

std::optional<ActionReport> PanelExecutor::apply(std::size_t gauge, const scenario::Action& action,
                                                 const UpdateObserver& after_each) {
    using namespace scenario;
    return std::visit(
        [&](const auto& step) -> std::optional<ActionReport> {
            using A = std::decay_t<decltype(step)>;
            if constexpr (std::is_same_v<A, SetVariable>) {
                set_var(step.token, step.value);
                return report();
            } else if constexpr (std::is_same_v<A, RunUpdates>) {
                return update(step.count, after_each);
            } else if constexpr (std::is_same_v<A, Click>) {
                return click(gauge, step.x, step.y, step.flags);
            } else if constexpr (std::is_same_v<A, CallService>) {
                return service(gauge, step.service_id, step.extra);
            } else if constexpr (std::is_same_v<A, SendKey>) {
                return key(gauge, step.event);
            } else {
                return std::nullopt;
            }
        },
        action);
}

const std::optional<double>& PanelExecutor::Gauge::value(std::size_t element) const {
    // The last update's samples hold every element's value until the next update.
    static const std::optional<double> none;
    return last.samples.empty() ? none : last.samples[element].value;
}

const std::optional<double>& PanelExecutor::value(std::size_t gauge, std::size_t element) const {
    const Gauge& g = gauges_.at(gauge);
    g.driver->element(element);  // names the element in the error when there is none
    return g.value(element);
}

const std::vector<trace::ElementState>& PanelExecutor::states(std::size_t gauge) {
    Gauge& g = gauges_.at(gauge);
    const std::vector<ElementEntry>& elements = g.driver->elements();
    bool changed = false;
    if (g.states.size() != elements.size() || g.watched.size() != elements.size()) {
        g.states.assign(elements.size(), {});
        g.watched.assign(elements.size(), {});
        for (const ElementEntry& entry : elements) {
            ElementHeader* element = entry.element;
            g.watched[entry.index] = {element, element->element_kind == string_element
                                                   ? reinterpret_cast<const StringElement*>(element)
                                                   : nullptr};
            if (g.watched[entry.index].readout != nullptr) g.states[entry.index].text.emplace();
        }
        changed = true;
    }
    // Asked after every traced update: each state is refreshed in place from the samples
    // and the records, so that an unchanged one costs a few compares.
    const ElementSample* sample = g.last.samples.size() == elements.size() ? g.last.samples.data() : nullptr;
    trace::ElementState* state = g.states.data();
    for (const Gauge::Watched& watched : g.watched) {
        if (sample != nullptr) {
            const std::optional<double>& value = sample->value;
            if (value.has_value() != state->value.has_value() ||
                (value && std::memcmp(&*value, &*state->value, sizeof(double)) != 0)) {
                state->value = value;
                changed = true;
            }
            ++sample;
        } else if (state->value) {
            state->value.reset();
            changed = true;
        }
        const uint32_t flags = watched.element->image_flags;
        changed |= flags != state->image_flags;
        state->image_flags = flags;
        if (watched.readout != nullptr) changed |= g.driver->copy_text(*watched.readout, *state->text);
        ++state;
    }
    if (changed) ++g.states_version;
    return g.states;
}

uint64_t PanelExecutor::states_version(std::size_t gauge) const { return gauges_.at(gauge).states_version; }

trace::ElementInfo element_info(const ElementEntry& entry, const RecordBounds& bounds) {
    const ElementHeader& header = *entry.element;
    trace::ElementInfo info;
    info.label = entry.label;
    info.kind = header.element_kind;
    info.resource_id = header.resource_id;
    info.position = {header.position.x, header.position.y};
    info.anchor = {header.anchor.x, header.anchor.y};
    info.image_flags = header.image_flags;
    if (header.element_kind == string_element) {
        const auto& readout = reinterpret_cast<const StringElement&>(header);
        info.width = readout.size.width;
        info.height = readout.size.height;
        info.fore_colour = readout.fore_colour;
        info.back_colour = readout.back_colour;
        info.char_count = readout.char_count;
        info.font_name.assign(readout.font_name, strnlen(readout.font_name, sizeof readout.font_name));
    } else if (header.element_kind == icon_element) {
        const auto& icon = reinterpret_cast<const IconElement&>(header);
        info.icon_count = icon.icon_count;
        info.icon_switch = icon.icon_switch;
    } else if (header.element_kind == needle_element) {
        const auto& needle = reinterpret_cast<const NeedleElement&>(header);
        if (needle.nonlinearity_table != nullptr) {
            if (needle.nonlinearity_count > max_table_entries)
                throw HostError("element " + entry.label + ": nonlinearity_count " +
                                std::to_string(needle.nonlinearity_count) + " is not a plausible table size");
            bounds.check(needle.nonlinearity_table, "element " + entry.label + ": nonlinearity_table",
                         needle.nonlinearity_count);
            for (uint32_t i = 0; i < needle.nonlinearity_count; ++i) {
                const NonlinearityEntry& point = needle.nonlinearity_table[i];
                info.table.push_back({{point.point.x, point.point.y}, point.value});
            }
        }
    }
    return info;
}

trace::GaugeInfo gauge_info(const GaugeDriver& driver, const std::string& scenario_file, const std::string& module,
                            const std::string& module_file) {
    trace::GaugeInfo info{scenario_file, module, module_file, driver.name(), {}, driver.header().size_x_mm, {}};
    for (const ElementEntry& entry : driver.elements()) info.elements.push_back(element_info(entry, driver.bounds()));
    // Parents and children only: the list's other records mark its structure. A box far
    // outside any picture is clamped so that the trace stays readable.
    const auto bounded = [](int32_t n) { return std::clamp(n, -trace::max_coordinate, trace::max_coordinate); };
    for (const MouseListEntry& entry : driver.mouse_list()) {
        const uint32_t kind = entry.record->rect_kind;
        if (kind != mouse_parent && kind != mouse_child) continue;
        trace::ClickArea area{bounded(entry.box.x),      bounded(entry.box.y), bounded(entry.box.width),
                              bounded(entry.box.height), kind == mouse_parent, entry.whole_gauge,
                              entry.record->help_id,     std::nullopt};
        if (entry.tooltip != nullptr)
            area.tooltip = std::string(driver.bounds().string(entry.tooltip, max_record_text, "a tooltip text"));
        info.areas.push_back(std::move(area));
    }
    return info;
}

}  // namespace kestrel
