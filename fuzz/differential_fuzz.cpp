// Differential fuzz target (32-bit build only): one sequence of host actions on the twin
// and on the real .gau that the native host maps, compared byte for byte after every
// action: key events, element values as bits, image flags and read-out texts.
// The first input byte picks the gauge; the rest is the same action reader as the
// per-gauge targets, and every check of those targets runs here too, on both builds.
//
// Where the two cannot agree by design, the comparison leaves it out; so far nothing
// needs to be: values reach both builds as the same 64-bit words, both truncate through
// one rule, both return doubles the same way (a signalling NaN comes back quiet from
// either), and the real file's formatters are the host's stand-ins, which treat the
// modules' conversions as the twin's snprintf does. Only module_init runs on the real
// file alone (the host's attach runs it); it is empty in both.
//
// The real file is mapped once, like the twin, and its writable sections are put back
// before every input. Mapping it afresh for every input cost most of the time, and under
// an emulator every new mapping of its code is translated again.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "gauge_rules.h"
#include "loader.h"
#include "pe_image.h"

namespace {

constexpr uint32_t section_writable = 0x80000000;

// The shipped .gau, mapped by the host's own loader once per process.
class RealModule {
public:
    explicit RealModule(const std::filesystem::path& path) : module_(kestrel::LoadedModule::open(path)) {
        auto* base = const_cast<unsigned char*>(module_.image_begin());
        const std::size_t image_size = static_cast<std::size_t>(module_.image_end() - module_.image_begin());
        const kestrel::pe::PeImage image = kestrel::pe::PeImage::read(path);
        for (const kestrel::pe::Section& section : image.sections()) {
            if ((section.characteristics & section_writable) == 0) continue;
            if (section.virtual_address >= image_size || section.virtual_size > image_size - section.virtual_address)
                kestrel::fuzz::finding(path.string() + ": a writable section lies outside the mapped image");
            data_.save(base + section.virtual_address, section.virtual_size);
        }
    }
    kestrel::LoadedModule& reset() {
        data_.restore();
        return module_;
    }

private:
    kestrel::LoadedModule module_;
    kestrel::fuzz::SavedRegions data_;
};

kestrel::LoadedModule& real_module(const std::string& file) {
    static std::map<std::string, std::unique_ptr<RealModule>> modules;
    auto& module = modules[file];
    if (!module) module = std::make_unique<RealModule>(std::filesystem::path(KESTREL_WINDOWS_MODULE_DIR) / file);
    return module->reset();
}

using kestrel::fuzz::GaugeRules;
using kestrel::fuzz::Observation;

std::string show_observation(const Observation& observation) {
    std::string text = observation.action + "\n  events:";
    for (const auto& event : observation.key_events) {
        char word[40];
        std::snprintf(word, sizeof word, " 0x%x=%u", event.id, event.value);
        text += word;
    }
    for (std::size_t i = 0; i < observation.samples.size(); ++i)
        text += "\n  element " + std::to_string(i) + ": " + observation.samples[i];
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const GaugeRules* const gauges[] = {&kestrel::fuzz::clock_rules(), &kestrel::fuzz::ap_rules(),
                                        &kestrel::fuzz::autobrake_rules()};
    const GaugeRules& rules = *gauges[data[0] % std::size(gauges)];
    ++data;
    --size;

    // One host at a time: the twin's run first, then the real file's, each from its load state.
    std::vector<Observation> on_twin;
    std::vector<kestrel::fuzz::Action> actions;
    {
        kestrel::fuzz::TwinModule& twin = kestrel::fuzz::twin_module(rules.twin_file);
        twin.reset();
        kestrel::PanelHost host;
        host.record_lookups(false);
        host.attach(twin.import_table());
        kestrel::GaugeDriver driver(twin.gauge(rules.gauge_name), host);
        actions = kestrel::fuzz::read_actions(data, size, rules, driver.mouse_list());
        on_twin = kestrel::fuzz::run_actions(driver, host, rules, actions, true);
    }
    std::vector<Observation> on_real;
    {
        kestrel::PanelHost host;
        host.record_lookups(false);
        kestrel::LoadedModule& module = real_module(rules.real_file);
        host.attach(module);
        kestrel::GaugeDriver driver(module, host, rules.gauge_name);
        on_real = kestrel::fuzz::run_actions(driver, host, rules, actions, true);
    }
    for (std::size_t i = 0; i < on_twin.size(); ++i) {
        if (on_twin[i] != on_real[i]) {
            kestrel::fuzz::finding("twin and " + rules.real_file + " differ after action " + std::to_string(i) +
                                   "\ntwin: " + show_observation(on_twin[i]) + "\nreal: " + show_observation(on_real[i]));
        }
    }
    return 0;
}
