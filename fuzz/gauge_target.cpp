// The fuzz target of one gauge, chosen at build time by KESTREL_FUZZ_GAUGE: each input is
// a sequence of host actions run on the twin from its load state, checked after each.
#include "gauge_rules.h"

namespace {

const kestrel::fuzz::GaugeRules& rules() {
    using namespace kestrel::fuzz;
    static const GaugeRules& chosen = [] {
        for (const GaugeRules* candidate : {&clock_rules(), &ap_rules(), &autobrake_rules()}) {
            if (candidate->gauge_name == KESTREL_FUZZ_GAUGE) return std::cref(*candidate);
        }
        finding("no rules for the gauge " + std::string(KESTREL_FUZZ_GAUGE));
    }();
    return chosen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    kestrel::fuzz::fuzz_twin(kestrel::fuzz::twin_module(rules().twin_file), rules(), data, size);
    return 0;
}
