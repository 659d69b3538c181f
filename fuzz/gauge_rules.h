// The three gauges as the fuzzers know them: the host variables each reads, the key
// events it sends and hears, and the checks that run after every action.
#pragma once

#include "gauge_fuzzing.h"

namespace kestrel::fuzz {

const GaugeRules& clock_rules();
const GaugeRules& ap_rules();
const GaugeRules& autobrake_rules();

}  // namespace kestrel::fuzz
