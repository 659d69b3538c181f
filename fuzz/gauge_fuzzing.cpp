// The module fuzzers' shared half: loading the twin once and restoring its load state,
// reading host actions from fuzz bytes, and driving a gauge with checks after every action.
#include "gauge_fuzzing.h"

#include <algorithm>
#include <dlfcn.h>
#include <link.h>
#include <time.h>

#include <array>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

#include "executor.h"
#include "numbers.h"
#include "records.h"

namespace kestrel::fuzz {

void finding(const std::string& message) {
    std::fprintf(stderr, "kestrel-fuzz: FINDING: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

uint64_t bits_of(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ---------------------------------------------------------------------------------------
// The twin, loaded once.

namespace {

struct SegmentSearch {
    ElfW(Addr) base;
    std::vector<std::pair<unsigned char*, std::size_t>> writable;
    std::vector<std::pair<unsigned char*, std::size_t>> relro;
    bool found = false;
};

int collect_segments(dl_phdr_info* info, std::size_t, void* context) {
    auto& search = *static_cast<SegmentSearch*>(context);
    if (info->dlpi_addr != search.base) return 0;
    search.found = true;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& header = info->dlpi_phdr[i];
        auto* start = reinterpret_cast<unsigned char*>(info->dlpi_addr + header.p_vaddr);
        if (header.p_type == PT_LOAD && (header.p_flags & PF_W)) search.writable.emplace_back(start, header.p_memsz);
        if (header.p_type == PT_GNU_RELRO) search.relro.emplace_back(start, header.p_memsz);
    }
    return 1;
}

// The module's data holds AddressSanitizer's redzones around every variable; the copies
// are of whole segments, so they must not be checked byte by byte. Nor is the copy
// coverage to learn from: traced, its loop cost more than the rest of a short input.
__attribute__((no_sanitize("address", "coverage"))) void copy_bytes(unsigned char* to, const unsigned char* from, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
}

}  // namespace

TwinModule::TwinModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) finding("cannot load the twin " + path + ": " + dlerror());
    void* linkage = dlsym(handle_, "Linkage");
    import_table_ = static_cast<ImportTableRecord*>(dlsym(handle_, "ImportTable"));
    if (linkage == nullptr || import_table_ == nullptr) finding(path + " lacks Linkage or ImportTable");
    try {
        gauges_ = read_gauge_table(*static_cast<const LinkageHead*>(linkage), no_bounds);
    } catch (const HostError& error) {
        finding(path + ": " + error.what());
    }

    link_map* map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) finding(path + ": no link map");
    SegmentSearch search{map->l_addr, {}, {}};
    dl_iterate_phdr(collect_segments, &search);
    if (!search.found || search.writable.empty()) finding(path + ": no writable segment found");
    // Everything writable but the relocated part that the loader made read-only.
    for (auto [start, size] : search.writable) {
        unsigned char* end = start + size;
        for (auto [relro_start, relro_size] : search.relro) {
            unsigned char* relro_end = relro_start + relro_size;
            if (relro_start <= start && relro_end > start) start = std::min(relro_end, end);
        }
        if (start < end) data_.save(start, static_cast<std::size_t>(end - start));
    }
}

void TwinModule::reset() { data_.restore(); }

void SavedRegions::save(unsigned char* start, std::size_t size) {
    Region region{start, std::vector<unsigned char>(size)};
    copy_bytes(region.saved.data(), start, size);
    regions_.push_back(std::move(region));
}

void SavedRegions::restore() {
    for (auto& region : regions_) copy_bytes(region.start, region.saved.data(), region.saved.size());
}

GaugeHeader& TwinModule::gauge(std::string_view name) const {
    for (GaugeHeader* header : gauges_) {
        if (header->gauge_name != nullptr && name == header->gauge_name) return *header;
    }
    finding("the twin has no gauge " + std::string(name));
}

// ---------------------------------------------------------------------------------------
// Reading actions.

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// Values that break arithmetic or sit on a rule's edge.
constexpr std::array hostile_values = {
    nan_value, -nan_value, infinity, -infinity, 1e300, -1e300, 4.9406564584124654e-324, -4.9406564584124654e-324,
    2.2250738585072014e-308, -0.0, 0.0, 0.5, -0.5, 1.0, -1.0, 1.5, 2.5, 2.7,
    2147483647.0, 2147483647.5, 2147483648.0, -2147483648.0, -2147483648.5, -2147483649.0, 4294967295.0,
    4294967296.0, 1e9, -1e9, 17.0, 18.0, 32.0, 32.5, 33.0, 36.0, 47.0, 128.0, 99.0, 100.0, 359.0, 360.0, 361.0,
    366.0, 400.0, 401.0, 2000.0, 2004.0, 2100.0, 4800.0, 4800.5, 16380.0, 16381.0, 16384.0, 6000.0, -6000.0,
    60000.0, 249.6, 0.001, 65535.0, 1e15, -1e15};

constexpr std::array click_flag_values = {0x20000000u, 0xA0200000u, 0x80000000u, 0u,         0xFFFFFFFFu,
                                          0x00200000u, 0x20200000u, 0xA0000000u, 0x00000001u};

class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return position_ >= size_; }
    // Bytes past the end read as zero: every input is a complete program.
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
        return value;
    }
    double raw_double() {
        uint64_t bits = static_cast<uint64_t>(word()) | (static_cast<uint64_t>(word()) << 32);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

template <typename List>
auto pick(const List& list, uint8_t choice) {
    return list[choice % list.size()];
}

double read_value(ByteReader& in) {
    const uint8_t choice = in.byte();
    if (choice < 160) return hostile_values[choice % hostile_values.size()];
    if (choice < 224) return static_cast<int8_t>(in.byte()) + ((choice & 1) ? 0.5 : 0.0);
    return in.raw_double();
}

// At most this many actions per input, and this many updates in all, so that one input
// stays far below the time limit: a long input of update runs once took over a second in
// the sanitized build without anything in the module being slow.
constexpr std::size_t max_actions = 512;
constexpr uint32_t max_updates = 600;  // eight flash cycles

}  // namespace

std::vector<Action> read_actions(const uint8_t* data, std::size_t size, const GaugeRules& rules,
                                 const std::vector<MouseListEntry>& areas) {
    std::vector<const MouseListEntry*> targets;
    for (const auto& entry : areas) {
        if (entry.record->rect_kind == mouse_child || entry.record->rect_kind == mouse_parent)
            targets.push_back(&entry);
    }
    ByteReader in(data, size);
    std::vector<Action> actions;
    uint32_t updates = 0;
    while (!in.done() && actions.size() < max_actions) {
        const uint8_t op = in.byte();
        Action action{static_cast<ActionKind>(op % 6)};
        switch (action.kind) {
        case ActionKind::set_var: {
            const uint8_t choice = in.byte();
            action.id = (choice < 224 && !rules.tokens.empty()) ? pick(rules.tokens, choice) : in.word();
            action.value = read_value(in);
            break;
        }
        case ActionKind::update: {
            // Mostly single updates; now and then a run long enough for a flash cycle.
            const uint8_t count = in.byte();
            action.id = std::min(count < 200 ? 1 : (count - 199) * 3u, max_updates - updates);
            updates += action.id;
            if (action.id == 0) continue;
            break;
        }
        case ActionKind::click: {
            const uint8_t choice = in.byte();
            if (choice < 224 && !targets.empty()) {
                const PixelBox& box = pick(targets, choice)->box;
                action.x = box.x + (box.width > 0 ? in.byte() % box.width : 0);
                action.y = box.y + (box.height > 0 ? in.byte() % box.height : 0);
            } else {
                action.x = static_cast<int16_t>(in.word());
                action.y = static_cast<int16_t>(in.word());
            }
            const uint8_t flags = in.byte();
            action.word = flags < 224 ? pick(click_flag_values, flags) : in.word();
            break;
        }
        case ActionKind::service: {
            const uint8_t choice = in.byte();
            if (choice < 128 && !rules.services.empty()) action.id = static_cast<uint32_t>(pick(rules.services, choice));
            else if (choice < 224) action.id = choice % 24;
            else action.id = in.word();
            action.word = in.byte();
            break;
        }
        case ActionKind::key_event: {
            const uint8_t choice = in.byte();
            if (choice < 128 && !rules.heard_events.empty()) action.id = pick(rules.heard_events, choice);
            else if (choice < 192 && !rules.sent_events.empty())
                action.id = *std::next(rules.sent_events.begin(), choice % rules.sent_events.size());
            else action.id = in.word();
            const uint8_t value = in.byte();
            action.word = value < 128 ? 0u : value < 192 ? 1u : value < 224 ? 0xFFFFFFFFu : in.word();
            break;
        }
        case ActionKind::standard_routine:
            action.id = 1 + in.byte() % 7;
            action.word = in.byte();
            break;
        }
        actions.push_back(action);
    }
    return actions;
}

std::string Action::describe() const {
    char line[160];
    switch (kind) {
    case ActionKind::set_var:
        std::snprintf(line, sizeof line, "set %" PRIu32 " %.17g (bits %016" PRIx64 ")", id, value, bits_of(value));
        break;
    case ActionKind::update: std::snprintf(line, sizeof line, "update %" PRIu32, id); break;
    case ActionKind::click:
        std::snprintf(line, sizeof line, "click %" PRId32 " %" PRId32 " 0x%08" PRIx32, x, y, word);
        break;
    case ActionKind::service:
        std::snprintf(line, sizeof line, "service %" PRId32 " %" PRIu32, static_cast<int32_t>(id), word);
        break;
    case ActionKind::key_event: std::snprintf(line, sizeof line, "key 0x%" PRIx32 " %" PRIu32, id, word); break;
    case ActionKind::standard_routine: std::snprintf(line, sizeof line, "routine %" PRIu32 " %" PRIu32, id, word); break;
    }
    return line;
}

// ---------------------------------------------------------------------------------------
// Driving and checking.

namespace {

std::vector<std::string> visible_state(const GaugeDriver& driver, const UpdateResult* update) {
    std::vector<std::string> samples;
    const auto& elements = driver.elements();
    for (std::size_t i = 0; i < elements.size(); ++i) {
        std::string sample = hex_word(elements[i].element->image_flags);
        if (update != nullptr && update->samples[i].value) {
            char bits[24];
            std::snprintf(bits, sizeof bits, " %016" PRIx64, bits_of(*update->samples[i].value));
            sample += bits;
        }
        if (elements[i].element->element_kind == string_element) {
            sample += " \"" + driver.text(i) + "\"";
        }
        samples.push_back(std::move(sample));
    }
    return samples;
}

// libFuzzer's -timeout counts whole seconds; a module entry that takes a large part of
// one is already a hang inside the simulator's frame. KESTREL_FUZZ_ENTRY_MS raises the
// limit where the machine is slow (a 32-bit run under an emulator).
//
// Every entry is timed on the coarse monotonic clock, which costs nanoseconds; the
// thread's CPU clock is a system call (over a microsecond here, more than a whole update
// of the clock), so it is read once per action, and only an entry that overran on the
// wall clock is checked against it: other work on a shared machine never makes a finding.
using Duration = std::chrono::nanoseconds;

Duration read_clock(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::chrono::milliseconds entry_limit() {
    static const std::chrono::milliseconds limit = [] {
        const char* text = std::getenv("KESTREL_FUZZ_ENTRY_MS");
        const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
        return std::chrono::milliseconds(value > 0 ? value : 250);
    }();
    return limit;
}

// The clocks of one action: its CPU time from its start, each entry's wall time.
class EntryTimer {
public:
    EntryTimer() : action_cpu_start_(read_clock(CLOCK_THREAD_CPUTIME_ID)) {}
    void start_entry() { entry_start_ = read_clock(CLOCK_MONOTONIC_COARSE); }
    void check_entry(const Place& where) const {
        const Duration wall = read_clock(CLOCK_MONOTONIC_COARSE) - entry_start_;
        if (wall <= entry_limit()) return;
        const Duration cpu = read_clock(CLOCK_THREAD_CPUTIME_ID) - action_cpu_start_;
        KESTREL_REQUIRE(cpu <= entry_limit(), where,
                        "hang: an entry took " +
                            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()) +
                            " ms, and its action " +
                            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count()) +
                            " ms of CPU time (limit " + std::to_string(entry_limit().count()) + " ms)");
    }

private:
    Duration action_cpu_start_;
    Duration entry_start_{};
};

// The simulator calls every entry with the x87 register stack empty and expects it back
// so: a value an entry leaves behind (a double result that nobody pops, a pop of a value
// never pushed) turns the host's floating point into NaNs some calls later. Counts the
// registers in use from the x87 tag word; always 0 where doubles never touch the x87.
int x87_registers_in_use() {
#if defined(__i386__)
    struct {
        uint32_t control, status, tag, rest[4];  // fnstenv's 28-byte 32-bit layout
    } environment;
    // fnstenv masks every x87 exception; fldenv puts the environment back as it was.
    __asm__ volatile("fnstenv %0\n\tfldenv %0" : "=m"(environment));
    int in_use = 0;
    for (int reg = 0; reg < 8; ++reg) in_use += ((environment.tag >> (2 * reg)) & 3u) != 3u;
    return in_use;
#else
    return 0;
#endif
}

void require_x87_stack_empty(const Place& where) {
    const int in_use = x87_registers_in_use();  // counted once: what runs next may change it
    KESTREL_REQUIRE(in_use == 0, where, std::to_string(in_use) + " x87 registers left in use");
}

}  // namespace

std::vector<Observation> run_actions(GaugeDriver& driver, PanelHost& host, const GaugeRules& rules,
                                     const std::vector<Action>& actions, bool observe) {
    std::vector<Observation> observations;
    if (rules.start_run) rules.start_run();
    if (driver.elements().size() != rules.element_count)
        finding(rules.gauge_name + " has " + std::to_string(driver.elements().size()) + " elements, the checks expect " +
                std::to_string(rules.element_count));
    PanelExecutor executor(host, {&driver});
    for (std::size_t step = 0; step < actions.size(); ++step) {
        const Action& action = actions[step];
        const Place where{step, &action};
        bool updated = false;
        EntryTimer timer;
        timer.start_entry();
        ActionReport report;
        try {
            switch (action.kind) {
            case ActionKind::set_var: executor.set_var(action.id, action.value); break;
            case ActionKind::update:
                // One update at a time, so that each entry is timed and checked alone.
                report = executor.update(action.id, [&](uint64_t) {
                    updated = true;
                    timer.check_entry(where);
                    require_x87_stack_empty(where);
                    if (rules.check_update) rules.check_update(executor.last_update(0), host, where);
                    timer.start_entry();
                });
                break;
            case ActionKind::click: report = executor.click(0, action.x, action.y, action.word); break;
            case ActionKind::service:
                report = executor.service(0, static_cast<int32_t>(action.id), action.word);
                break;
            case ActionKind::key_event: report = executor.key(0, {action.id, action.word}); break;
            case ActionKind::standard_routine:
                report = executor.standard_routine(0, static_cast<StandardRoutineId>(action.id), action.word);
                break;
            }
            if (action.kind != ActionKind::update) timer.check_entry(where);
            require_x87_stack_empty(where);
        } catch (const HostError& error) {
            finding(where.text() + ": " + error.what());
        }
        const std::vector<KeyEvent> events = report.sent.empty() ? std::vector<KeyEvent>{} : report.sent[0];
        for (const KeyEvent& event : events) {
            if (!rules.sent_events.contains(event.id))
 finding(where.text() + ": sent key event " + hex_word(event.id) + " that the gauge never sends");
        }
        if (rules.check_action) rules.check_action(action, driver, host, events, where);
        if (observe) {
            observations.push_back({action.describe(), events,
                                    visible_state(driver, updated ? &executor.last_update(0) : nullptr)});
        }
    }
    return observations;
}

void fuzz_twin(TwinModule& module, const GaugeRules& rules, const uint8_t* data, std::size_t size) {
    module.reset();
    PanelHost host;
    host.record_lookups(false);
    host.attach(module.import_table());
    GaugeDriver driver(module.gauge(rules.gauge_name), host);
    run_actions(driver, host, rules, read_actions(data, size, rules, driver.mouse_list()), false);
}

std::string Place::text() const {
    return "action " + std::to_string(step) + " (" + action->describe() + ")";
}

double value_of(const UpdateResult& update, std::size_t element, const Place& where) {
    KESTREL_REQUIRE(element < update.samples.size() && update.samples[element].value.has_value(), where,
                    "element " + std::to_string(element) + " returned no value");
    return *update.samples[element].value;
}

std::string show(double value) { return exact_number(value); }

TwinModule& twin_module(const std::string& file) {
    // Both files at most; a module stays loaded for the life of the process.
    static std::map<std::string, std::unique_ptr<TwinModule>> modules;
    auto& module = modules[file];
    if (!module) module = std::make_unique<TwinModule>(std::string(KESTREL_FUZZ_MODULE_DIR) + "/" + file);
    return *module;
}

}  // namespace kestrel::fuzz
