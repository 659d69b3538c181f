// What one clock update costs: the seven element callbacks called on the gauge's own
// records as the host calls them, and the timekeeping step alone at rates from 1 to 1e9.
// Built in the 64-bit tools build against the clock's sources, with a minimal host table.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "clock_display.h"
#include "clock_gauge.h"
#include "clock_state.h"

namespace {

namespace dc = digital_clock;

// Host variables by token, as lookup_var hands them to the module.
std::array<double, 400> host_values{};

void KESTREL_STDCALL lookup_var(ModuleVar* variable) {
    variable->value = variable->token < host_values.size() ? host_values[variable->token] : 0.0;
}

PanelServices make_services() {
    PanelServices services{};
    services.lookup_var = lookup_var;
    return services;
}
PanelServices services = make_services();

std::array<char, 6> upper_text{};
std::array<char, 6> lower_text{};

// The elements whose callbacks the host calls, in drawing order.
const std::array<ElementHeader*, 7> animated = {
    &dc::lit_face.header,   &dc::upper_readout.header, &dc::lower_readout.header, &dc::unlit_hand.header,
    &dc::lit_hand.header,   &dc::page_lever.header,    &dc::mode_lever.header,
};
const std::array<ElementCallback, 7> callbacks = {
    dc::lit_face.value_callback,   dc::upper_readout.value_callback, dc::lower_readout.value_callback,
    dc::unlit_hand.value_callback, dc::lit_hand.value_callback,      dc::page_lever.value_callback,
    dc::mode_lever.value_callback,
};

// A loaded module: the host's table written, buffers provided, the clock at load state
// on the page given by chrono_mode * 2 + display_page, both stopwatches running.
void prepare(int page, double rate) {
    ImportTable.panel_services = &services;
    dc::upper_readout.text = upper_text.data();
    dc::lower_readout.text = lower_text.data();
    host_values.fill(0.0);
    host_values[3] = 9;
    host_values[4] = 5;
    host_values[5] = 33;
    host_values[6] = 14;
    host_values[7] = 30;
    host_values[8] = 60;
    host_values[9] = 2004;
    host_values[336] = rate;
    dc::chrono_mode = page / 2;
    dc::display_page = page % 2;
    dc::stopwatch1_running = 1;
    dc::stopwatch2_running = 1;
}

void full_update(benchmark::State& state, double rate) {
    prepare(static_cast<int>(state.range(0)), rate);
    for (auto _ : state) {
        for (std::size_t index = 0; index < animated.size(); ++index)
            benchmark::DoNotOptimize(callbacks[index](animated[index]));
        benchmark::ClobberMemory();
    }
}

void BM_ClockUpdateAtRate1(benchmark::State& state) { full_update(state, 1.0); }
void BM_ClockUpdateAtRate1e9(benchmark::State& state) { full_update(state, 1e9); }
// Pages: 0 times of day, 1 date, 2 stopwatch 1, 3 elapsed and stopwatch 2.
BENCHMARK(BM_ClockUpdateAtRate1)->DenseRange(0, 3)->ArgName("page");
BENCHMARK(BM_ClockUpdateAtRate1e9)->DenseRange(0, 3)->ArgName("page");

void BM_ClockTick(benchmark::State& state, double rate) {
    prepare(2, rate);
    for (auto _ : state) {
        dc::clock_tick(rate);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(BM_ClockTick, rate_1, 1.0);
BENCHMARK_CAPTURE(BM_ClockTick, rate_128, 128.0);
BENCHMARK_CAPTURE(BM_ClockTick, rate_1e9, 1e9);

}  // namespace

BENCHMARK_MAIN();
