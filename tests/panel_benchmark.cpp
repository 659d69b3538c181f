// What the KESTREL module's entries cost: a full AP update (every element callback, with
// the lights flashing and the read-outs following the host's values), the engage click,
// the disconnect with its disengage sequence, a full AUTOBRAKE update and a knob click.
// Built in the 64-bit tools build against the module's sources with a minimal host
// table, as the clock's benchmark is: the module's own cost, without the host's checks.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "ap/ap_controls.h"
#include "ap/ap_gauge.h"
#include "autobrake/autobrake_gauge.h"

namespace autobrake {
int32_t KESTREL_STDCALL autobrake_up(const void* click_point, uint32_t mouse_flags);
}

namespace {

// Host variables by token, as lookup_var hands them to the module.
std::array<double, 1024> host_values{};
std::size_t events_sent = 0;
KeyEventListener listener = nullptr;

void KESTREL_STDCALL lookup_var(ModuleVar* variable) {
    variable->value = variable->token < host_values.size() ? host_values[variable->token] : 0.0;
}
void KESTREL_STDCALL trigger_key_event(uint32_t, uint32_t) { ++events_sent; }
void KESTREL_STDCALL register_listener(KeyEventListener handler, uint32_t) { listener = handler; }
void KESTREL_STDCALL unregister_listener(KeyEventListener, uint32_t) { listener = nullptr; }

PanelServices make_services() {
    PanelServices services{};
    services.lookup_var = lookup_var;
    services.trigger_key_event = trigger_key_event;
    services.register_key_event_handler = register_listener;
    services.unregister_key_event_handler = unregister_listener;
    return services;
}
PanelServices services = make_services();

// One element the host calls at every update, with the variables it embeds.
struct Animated {
    ElementHeader* element;
    ElementCallback callback;
    ModuleVar* vars;
    int var_count;
};

// The gauge's tree in drawing order, read-outs given buffers as the host gives them.
class Gauge {
public:
    explicit Gauge(GaugeHeader& header) { visit(*header.element_list); }

    void update() {
        for (const Animated& each : animated_) {
            for (int v = 0; v < each.var_count; ++v)
                if (each.vars[v].token != 0) lookup_var(&each.vars[v]);
            benchmark::DoNotOptimize(each.callback(each.element));
        }
        benchmark::ClobberMemory();
    }

private:
    void visit(ElementHeader* element) {
        switch (element->element_kind) {
            case needle_element: {
                auto& needle = reinterpret_cast<NeedleElement&>(*element);
                animated_.push_back({element, needle.value_callback, &needle.source_var, 1});
                break;
            }
            case icon_element: {
                auto& icon = reinterpret_cast<IconElement&>(*element);
                animated_.push_back({element, icon.value_callback, &icon.source_var, 1});
                break;
            }
            case string_element: {
                auto& readout = reinterpret_cast<StringElement&>(*element);
                buffers_.emplace_back();
                readout.text = buffers_.back().data();
                animated_.push_back({element, readout.value_callback, readout.source_vars, 3});
                break;
            }
            default: break;
        }
        if (element->next_elements != nullptr)
            for (ElementHeader* const* child = element->next_elements; *child != nullptr; ++child) visit(*child);
    }

    std::vector<Animated> animated_;
    std::vector<std::array<char, 64>> buffers_;
};

void load() {
    ImportTable.panel_services = &services;
    host_values.fill(0.0);
}

// Host values the read-outs show, moving from update to update so that each one formats
// a new text: speed, Mach, altitude, vertical speed and the two angles.
void move_host_values(int step) {
    host_values[45] = 90 + step % 7;
    host_values[107] = 270 - step % 5;
    host_values[109] = 10000 + 100 * (step % 9);
    host_values[116] = 250 + step % 3;
    host_values[118] = 0.75 + 0.001 * (step % 4);
    host_values[120] = 1500 - 100 * (step % 6);
}

void BM_ApFullUpdate(benchmark::State& state) {
    load();
    static Gauge gauge(ap::ap_gauge);
    // Engaged, with its listener registered and the lift dumpers flashing.
    ap::ap_engage_1_click(nullptr, 0x20000000);
    ap::ap_gauge.gauge_callback(&ap::ap_gauge, 14, 0);
    if (listener != nullptr) listener(0x10356, 0, 0);
    host_values[103] = 1;
    int step = 0;
    for (auto _ : state) {
        move_host_values(++step);
        gauge.update();
    }
    state.counters["events"] = benchmark::Counter(static_cast<double>(events_sent), benchmark::Counter::kAvgIterations);
}

void BM_ApEngageClick(benchmark::State& state) {
    load();
    for (auto _ : state) benchmark::DoNotOptimize(ap::ap_engage_1_click(nullptr, 0x20000000));
}

void BM_ApDisconnectWithItsDisengageSequence(benchmark::State& state) {
    load();
    for (auto _ : state) {
        ap::ap_engage_1_click(nullptr, 0x20000000);
        benchmark::DoNotOptimize(ap::ap_disconnect_click(nullptr, 0x20000000));
    }
}

void BM_AutobrakeFullUpdate(benchmark::State& state) {
    load();
    static Gauge gauge(autobrake::autobrake_gauge);
    int step = 0;
    for (auto _ : state) {
        host_values[323] = step++ % 5;
        gauge.update();
    }
}

void BM_AutobrakeKnobClick(benchmark::State& state) {
    load();
    for (auto _ : state) benchmark::DoNotOptimize(autobrake::autobrake_up(nullptr, 0x20000000));
}

BENCHMARK(BM_ApFullUpdate);
BENCHMARK(BM_ApEngageClick);
BENCHMARK(BM_ApDisconnectWithItsDisengageSequence);
BENCHMARK(BM_AutobrakeFullUpdate);
BENCHMARK(BM_AutobrakeKnobClick);

}  // namespace

BENCHMARK_MAIN();
