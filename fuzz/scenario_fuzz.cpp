// Fuzz target for the scenario parser: any text must parse or be refused with one
// ScenarioError naming the line, never crash or run long.
#include <cstdint>
#include <string_view>

#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    try {
        (void)kestrel::scenario::parse_scenario(std::string_view(reinterpret_cast<const char*>(data), size),
                                                "fuzz.scenario");
    } catch (const kestrel::scenario::ScenarioError&) {
    }
    return 0;
}
