// The seven standard routines of every gauge, called as the simulator calls them: each
// reaches its own element_list_* service with its own gauge's root, install and generate
// with the host's value unchanged, and hands the service's result back.
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace {

using kestrel::ElementListCall;
using kestrel::ElementListOperation;
using kestrel::StandardRoutineId;

struct RoutineCase {
    StandardRoutineId routine;
    ElementListOperation operation;
    bool takes_value;
};

constexpr RoutineCase routine_cases[] = {
    {StandardRoutineId::query, ElementListOperation::query, false},
    {StandardRoutineId::install, ElementListOperation::install, true},
    {StandardRoutineId::initialize, ElementListOperation::initialize, false},
    {StandardRoutineId::update, ElementListOperation::update, false},
    {StandardRoutineId::generate, ElementListOperation::generate, true},
    {StandardRoutineId::draw, ElementListOperation::plot, false},
    {StandardRoutineId::kill, ElementListOperation::kill, false},
};

// Values whose every bit position matters: a sign-extended, shifted or truncated copy differs.
constexpr uint32_t host_values[] = {0, 1, 0x80000001, 0xFFFFFFFF, 0x12345678};

void expect_forwarding(const std::filesystem::path& path) {
    kestrel::LoadedModule module = kestrel::LoadedModule::open(path);
    kestrel::PanelHost host;
    host.attach(module);
    ASSERT_FALSE(module.gauges().empty()) << path << " lists no gauge to check";
    for (GaugeHeader* header : module.gauges()) {
        SCOPED_TRACE(kestrel::gauge_name_of(*header));
        kestrel::GaugeDriver gauge(*header, host);
        for (const RoutineCase& each : routine_cases) {
            SCOPED_TRACE(std::string(kestrel::standard_routine_name(each.routine)));
            for (const uint32_t value : host_values) {
                host.clear_element_list_calls();
                EXPECT_EQ(gauge.run_standard_routine(each.routine, value), kestrel::element_list_result);
                const std::optional<uint32_t> passed = each.takes_value ? std::optional(value) : std::nullopt;
                EXPECT_EQ(host.element_list_calls(),
                          (std::vector<ElementListCall>{{each.operation, gauge.root(), passed}}));
            }
        }
    }
}

TEST(StandardRoutines, TimerGaugesForwardToTheirOwnRoot) { expect_forwarding(kestrel::testing::timer_module_path()); }

TEST(StandardRoutines, PanelGaugesForwardToTheirOwnRoot) { expect_forwarding(kestrel::testing::panel_module_path()); }

TEST(StandardRoutines, NamesAndNumbersSelectTheSameRoutine) {
    EXPECT_EQ(kestrel::standard_routine_by_name("draw"), StandardRoutineId::draw);
    EXPECT_EQ(kestrel::standard_routine_by_name("draw_routine"), StandardRoutineId::draw);
    EXPECT_EQ(kestrel::standard_routine_by_name("6"), StandardRoutineId::draw);
    EXPECT_EQ(kestrel::standard_routine_by_name("plot"), std::nullopt);
    EXPECT_EQ(kestrel::standard_routine_by_name("8"), std::nullopt);
    EXPECT_EQ(kestrel::standard_routine_by_name("_routine"), std::nullopt);
}

}  // namespace
