// The executor that the runner, the live session and the fuzzers drive gauges through:
// the KESTREL module's two gauges as one panel under one host, each action's report
// (key events per gauge, the area a click took) and what the elements show after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "driver.h"
#include "executor.h"
#include "loader.h"
#include "scenario.h"
#include "services.h"

namespace {

using namespace kestrel;

constexpr std::size_t ap = 0;
constexpr std::size_t autobrake = 1;
constexpr uint32_t plain_click = 0x20000000;
// The first engage button of AP; the listener's panel event; AP's last element, a light.
constexpr int32_t engage_x = 480, engage_y = 55;
constexpr uint32_t lift_dumpers_event = 0x10356;
constexpr std::size_t ap_last_element = 27;
constexpr int register_listener_service = 14;

class PanelOfTwoGauges : public testing::Test {
protected:
    PanelHost host;
    LoadedModule module = open();
    GaugeDriver ap_driver{module, host, "AP"};
    GaugeDriver autobrake_driver{module, host, "AUTOBRAKE"};
    PanelExecutor executor{host, {&ap_driver, &autobrake_driver}};

    LoadedModule open() {
        LoadedModule loaded = LoadedModule::open(std::filesystem::path(KESTREL_MODULE_DIR) / KESTREL_PANEL_FILE);
        host.attach(loaded);
        return loaded;
    }
};

TEST_F(PanelOfTwoGauges, AnUpdateRunsEveryGaugeAndCountsOnce) {
    std::vector<uint64_t> seen;
    const ActionReport report = executor.update(3, [&](uint64_t update) { seen.push_back(update); });
    EXPECT_EQ(report.updates, 3u);
    EXPECT_EQ(executor.update_count(), 3u);
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 2, 3}));
    ASSERT_EQ(report.sent.size(), 2u);
    // Both gauges' callbacks ran: each has values now, and its states carry them.
    for (const std::size_t gauge : {ap, autobrake}) {
        const std::vector<trace::ElementState>& states = executor.states(gauge);
        ASSERT_EQ(states.size(), executor.driver(gauge).elements().size());
        std::size_t with_value = 0;
        for (std::size_t i = 0; i < states.size(); ++i) {
            EXPECT_EQ(states[i].value, executor.value(gauge, i)) << gauge << ": " << i;
            with_value += states[i].value.has_value();
            if (executor.driver(gauge).element(i).element_kind == string_element)
                EXPECT_EQ(states[i].text, executor.driver(gauge).text(i));
        }
        EXPECT_GT(with_value, 0u) << "gauge " << gauge << " returned no value";
    }
}

// The trace writer skips comparing states whose version it wrote last, so the version
// must move with every change the states show: a flag, a text, a value.
TEST_F(PanelOfTwoGauges, TheStatesVersionMovesWithEveryChangeOfState) {
    executor.update(2);
    executor.states(autobrake);
    const uint64_t first = executor.states_version(autobrake);
    executor.states(autobrake);
    EXPECT_EQ(executor.states_version(autobrake), first) << "asked again with nothing changed";

    ElementHeader& element = executor.driver(autobrake).element(0);
    element.image_flags ^= 0x1000;
    const std::vector<trace::ElementState>& states = executor.states(autobrake);
    EXPECT_EQ(states[0].image_flags, element.image_flags);
    const uint64_t after_flags = executor.states_version(autobrake);
    EXPECT_NE(after_flags, first);
    element.image_flags ^= 0x1000;
    executor.states(autobrake);
    EXPECT_NE(executor.states_version(autobrake), after_flags);

    // A read-out's text, changed in the host's buffer as a callback would change it.
    std::size_t readout = 0;
    while (executor.driver(ap).element(readout).element_kind != string_element) ++readout;
    auto& text_element = reinterpret_cast<StringElement&>(executor.driver(ap).element(readout));
    executor.states(ap);
    const uint64_t before_text = executor.states_version(ap);
    const char held = text_element.text[0];
    text_element.text[0] = held == 'X' ? 'Y' : 'X';
    EXPECT_EQ(executor.states(ap)[readout].text, executor.driver(ap).text(readout));
    EXPECT_NE(executor.states_version(ap), before_text);
    text_element.text[0] = held;

    // Values: over many variables set, the version moves exactly when the states differ.
    executor.update(1);
    std::vector<trace::ElementState> before = executor.states(autobrake);
    uint64_t version = executor.states_version(autobrake);
    int moves = 0;
    for (uint32_t token = 1; token < 1000; ++token) {
        executor.set_var(token, 3.0);
        executor.update(1);
        const std::vector<trace::ElementState>& now = executor.states(autobrake);
        bool differ = false;
        for (std::size_t i = 0; i < now.size(); ++i)
            differ |= now[i].value != before[i].value || now[i].image_flags != before[i].image_flags ||
                      now[i].text != before[i].text;
        ASSERT_EQ(executor.states_version(autobrake) != version, differ) << "after token " << token;
        moves += differ;
        before = now;
        version = executor.states_version(autobrake);
    }
    EXPECT_GT(moves, 0) << "no variable moved the autobrake";
}

TEST_F(PanelOfTwoGauges, AClickReportsItsAreaAndTheEventsOfItsGaugeAlone) {
    executor.update(1);
    const std::size_t logged_before = host.key_events_sent().size();
    const ActionReport engaged = executor.click(ap, engage_x, engage_y, plain_click);
    ASSERT_TRUE(engaged.area.has_value());
    ASSERT_FALSE(engaged.sent[ap].empty());
    EXPECT_TRUE(engaged.sent[autobrake].empty());
    // What the report names is exactly what reached the host's log.
    const auto& log = host.key_events_sent();
    EXPECT_EQ(engaged.sent[ap], std::vector<KeyEvent>(log.begin() + static_cast<std::ptrdiff_t>(logged_before), log.end()));

    const ActionReport missed = executor.click(ap, 1, 1, plain_click);
    EXPECT_FALSE(missed.area.has_value());
    EXPECT_TRUE(missed.sent[ap].empty());
}

TEST_F(PanelOfTwoGauges, ScenarioActionsAreAppliedAndLookingOnesAreNot) {
    using namespace kestrel::scenario;
    ASSERT_TRUE(executor.apply(ap, SetVariable{866, 1.0}).has_value());
    EXPECT_EQ(host.var(866), 1.0);
    const std::optional<ActionReport> updated = executor.apply(ap, RunUpdates{2});
    ASSERT_TRUE(updated.has_value());
    EXPECT_EQ(updated->updates, 2u);
    ASSERT_TRUE(executor.value(ap, ap_last_element).has_value());

    const std::optional<ActionReport> served = executor.apply(ap, CallService{register_listener_service, 0});
    ASSERT_TRUE(served.has_value());
    EXPECT_TRUE(served->called);
    EXPECT_EQ(host.listeners().size(), 1u);
    const std::optional<ActionReport> heard = executor.apply(ap, SendKey{{lift_dumpers_event, 0}});
    ASSERT_TRUE(heard.has_value());
    EXPECT_TRUE(heard->sent[autobrake].empty());

    EXPECT_FALSE(executor.apply(ap, TakePicture{"a"}).has_value());
    EXPECT_FALSE(executor.apply(ap, ExpectKeys{}).has_value());
    EXPECT_EQ(executor.update_count(), 2u);
}

TEST_F(PanelOfTwoGauges, ElementsAreNamedByDrawingOrderIndexOrTreePath) {
    EXPECT_EQ(ap_driver.element_index("[27]"), 27u);
    EXPECT_EQ(ap_driver.element_index("[0]"), 0u);
    EXPECT_EQ(ap_driver.element_index("0"), 0u);
    EXPECT_EQ(ap_driver.element_index(ap_driver.elements()[5].label), 5u);
    try {
        ap_driver.element_index("[28]");
        FAIL() << "element [28] was found";
    } catch (const HostError& error) {
        EXPECT_STREQ(error.what(),
                     "gauge AP has no element [28] (it has [0] to [27] in drawing order, as kestrel-host inspect lists them)");
    }
    EXPECT_THROW(ap_driver.element_index("0.9"), HostError);
}

}  // namespace
