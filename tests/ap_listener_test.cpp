// The AP gauge callback and key-event listener through the host: registration on service
// 14 and 15 only, and the panel on/off and lift dumper flags that the listener toggles,
// seen through their lights, whoever sends the events.
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "ap_gauge_fixture.h"

namespace ap_test {
namespace {

class ApListener : public ApGauge {
protected:
    void register_listener() { driver.gauge_callback(14, 0); }
    void unregister_listener() { driver.gauge_callback(15, 0); }
    // An event from elsewhere in the simulator, handed to the listeners at once.
    void event_from_host(uint32_t id, uint32_t value = 0) {
        host.send_key_event(id, value);
        host.deliver_pending_key_events();
    }
    bool panel_on() { return value_after_update(panel_on_light) == lit; }
    // The lift dumper flag with the host's own value at 0: while the flag is 1 the light
    // flashes, lit first, so two updates in a row are both lit only from the flash's
    // start; while it is 0 the light is dark. The count restarts whenever the flag is 0.
    std::string lift_dumper_light(int calls) {
        std::string seen;
        for (int i = 0; i < calls; ++i) seen += value_after_update(lift_dumpers_light) == lit ? '#' : '.';
        return seen;
    }
};

TEST_F(ApListener, Service14RegistersTheListenerWithUserDataZero) {
    EXPECT_TRUE(host.listeners().empty()) << "not registered at load";
    const kestrel::GaugeCallbackResult result = driver.gauge_callback(14, 0);
    EXPECT_TRUE(result.called);
    EXPECT_TRUE(result.key_events.empty());
    ASSERT_EQ(host.listeners().size(), 1u);
    EXPECT_NE(host.listeners()[0].listener, nullptr);
    EXPECT_EQ(host.listeners()[0].user_data, 0u);
}

TEST_F(ApListener, Service15UnregistersTheSameListener) {
    register_listener();
    ASSERT_EQ(host.listeners().size(), 1u);
    const kestrel::GaugeCallbackResult result = driver.gauge_callback(15, 0);
    EXPECT_TRUE(result.key_events.empty());
    EXPECT_TRUE(host.listeners().empty());
    // A later 14 registers it again.
    register_listener();
    EXPECT_EQ(host.listeners().size(), 1u);
}

TEST_F(ApListener, OtherServiceIdsDoNothing) {
    const int32_t others[] = {0, 1, 6, 13, 16, -14, -15, 114, INT32_MIN, INT32_MAX};
    for (const int32_t service : others) {
        EXPECT_TRUE(driver.gauge_callback(service, 14).key_events.empty()) << service;
        EXPECT_TRUE(host.listeners().empty()) << "service " << service << " registered something";
    }
    register_listener();
    const auto registered = host.listeners();
    for (const int32_t service : others) {
        driver.gauge_callback(service, 15);
        EXPECT_EQ(host.listeners(), registered) << "service " << service << " changed the registration";
    }
    EXPECT_TRUE(host.key_events_sent().empty());
}

TEST_F(ApListener, PanelEventTogglesThePanelLightWhateverItsValue) {
    register_listener();
    EXPECT_FALSE(panel_on()) << "off at load";
    for (const uint32_t value : {0u, 1u, 0xFFFFFFFFu, 0x10173u}) {
        event_from_host(panel_switch_event, value);
        EXPECT_TRUE(panel_on()) << value;
        event_from_host(panel_switch_event, value);
        EXPECT_FALSE(panel_on()) << "two events in a row restore it, value " << value;
    }
    EXPECT_EQ(value_after_update(lift_dumpers_light), dark) << "the other flag did not move";
}

TEST_F(ApListener, LiftDumperEventTogglesTheFlashingLight) {
    register_listener();
    EXPECT_EQ(lift_dumper_light(3), "...") << "off at load";
    event_from_host(lift_dumpers_event, 7);
    EXPECT_EQ(lift_dumper_light(2), "##") << "flag 1: the flash starts lit";
    event_from_host(lift_dumpers_event, 0xFFFFFFFF);
    EXPECT_EQ(lift_dumper_light(3), "...") << "flag 0: dark, where the flash would still be lit";
    // Two in a row leave the flag as it was, both from 0 and from 1.
    event_from_host(lift_dumpers_event);
    event_from_host(lift_dumpers_event);
    EXPECT_EQ(lift_dumper_light(2), "..");
    event_from_host(lift_dumpers_event);
    EXPECT_EQ(lift_dumper_light(1), "#");
    event_from_host(lift_dumpers_event);
    event_from_host(lift_dumpers_event);
    EXPECT_EQ(lift_dumper_light(1), "#") << "still flashing";
    EXPECT_FALSE(panel_on()) << "the other flag did not move";
}

TEST_F(ApListener, LiftDumperFlagFlashesSeventeenLitFiftySixDark) {
    register_listener();
    event_from_host(lift_dumpers_event);
    const std::string cycle = std::string(17, '#') + std::string(56, '.');
    EXPECT_EQ(lift_dumper_light(2 * 73 + 1), cycle + cycle + "#");
}

TEST_F(ApListener, ListenerTogglesTheFlagSetByTheHostLiftDumperValue) {
    register_listener();
    host.set_var(lift_dumpers, 1.0);
    EXPECT_EQ(lift_dumper_light(2), "##") << "steady, and the flag is set";
    host.set_var(lift_dumpers, 0.0);
    EXPECT_EQ(lift_dumper_light(1), "#") << "flashing on the flag";
    event_from_host(lift_dumpers_event);
    EXPECT_EQ(lift_dumper_light(20), std::string(20, '.')) << "the event cleared the flag";
}

TEST_F(ApListener, OtherEventIdsChangeNeitherFlag) {
    register_listener();
    // The AP buttons' other events, the neighbours of the two ids, and the extremes. Each is
    // checked on its own: two ids that both toggled a flag would cancel out.
    const uint32_t others[] = {0x10100, 0x10144, 0x102F0, 0x102F5, 0x102C1, 0x1013D, 0x10347, 0x101F8,
                               0x10172, 0x10174, 0x10355, 0x10357, 0x00173, 0x00356, 0x0, 0xFFFFFFFF};
    for (const uint32_t id : others) {
        event_from_host(id, panel_switch_event);
        const kestrel::UpdateResult lights = update();
        EXPECT_EQ(*lights.samples[panel_on_light].value, dark) << std::hex << id;
        EXPECT_EQ(*lights.samples[lift_dumpers_light].value, dark) << std::hex << id;
    }
    // From the other state too: each flag moves on its own event only.
    event_from_host(panel_switch_event);
    event_from_host(lift_dumpers_event);
    // The flash is lit for its first 17 calls: one per id and one after them.
    static_assert(std::size(others) <= 16);
    for (const uint32_t id : others) {
        const kestrel::UpdateResult lights = update();
        EXPECT_EQ(*lights.samples[panel_on_light].value, lit) << std::hex << id;
        EXPECT_EQ(*lights.samples[lift_dumpers_light].value, lit) << std::hex << id;
        event_from_host(id, lift_dumpers_event);
    }
    const kestrel::UpdateResult lights = update();
    EXPECT_EQ(*lights.samples[panel_on_light].value, lit);
    EXPECT_EQ(*lights.samples[lift_dumpers_light].value, lit);
}

TEST_F(ApListener, GaugeButtonsToggleTheFlagsThroughTheHost) {
    register_listener();
    EXPECT_EQ(click(panel_switch_button), (std::vector<kestrel::KeyEvent>{{panel_switch_event, 0}}));
    EXPECT_TRUE(panel_on());
    EXPECT_EQ(click(lift_dumpers_button), (std::vector<kestrel::KeyEvent>{{lift_dumpers_event, 0}}));
    EXPECT_EQ(lift_dumper_light(2), "##");
    click(panel_switch_button);
    EXPECT_FALSE(panel_on());
    click(lift_dumpers_button);
    EXPECT_EQ(lift_dumper_light(2), "..");
}

TEST_F(ApListener, ButtonsAloneChangeNothingWithoutTheListener) {
    click(panel_switch_button);
    click(lift_dumpers_button);
    EXPECT_FALSE(panel_on());
    EXPECT_EQ(lift_dumper_light(2), "..");
}

TEST_F(ApListener, EventsWhileUnregisteredAreNotSeenAndNothingIsReset) {
    event_from_host(panel_switch_event);
    event_from_host(lift_dumpers_event);
    EXPECT_FALSE(panel_on()) << "never registered";
    EXPECT_EQ(lift_dumper_light(2), "..");

    register_listener();
    event_from_host(panel_switch_event);
    event_from_host(lift_dumpers_event);
    unregister_listener();
    EXPECT_TRUE(panel_on()) << "flags keep their values on service 15";
    EXPECT_EQ(lift_dumper_light(1), "#");
    event_from_host(panel_switch_event);
    click(lift_dumpers_button);
    EXPECT_TRUE(panel_on()) << "unregistered: not seen";
    EXPECT_EQ(lift_dumper_light(1), "#") << "unregistered: still flashing";

    register_listener();
    EXPECT_TRUE(panel_on()) << "flags keep their values on service 14";
    event_from_host(panel_switch_event);
    EXPECT_FALSE(panel_on()) << "seen again";
}

// A host may hand the listener any user data; the listener reads only the event id.
TEST_F(ApListener, ListenerIgnoresValueAndUserData) {
    register_listener();
    ASSERT_EQ(host.listeners().size(), 1u);
    const auto listener = host.listeners()[0].listener;
    listener(panel_switch_event, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_TRUE(panel_on());
    listener(panel_switch_event, 5, 1);
    EXPECT_FALSE(panel_on());
    listener(lift_dumpers_event, 0, 0x12345678);
    EXPECT_EQ(lift_dumper_light(1), "#");
    listener(0x10100, 0, 0);
    EXPECT_FALSE(panel_on());
}

}  // namespace
}  // namespace ap_test
