// The AP click areas and handlers driven through the host: help and tooltips at every
// area, the engage and disconnect logic with its disengage sequences, the latch-gated
// mode buttons, the five knobs with their wrap and bounded rules, and the panel switches.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ap_click_rows.h"
#include "ap_gauge_fixture.h"
#include "records.h"

namespace ap_test {
namespace {

using kestrel::ClickResult;
using kestrel::KeyEvent;
using Events = std::vector<KeyEvent>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr int64_t int32_max = std::numeric_limits<int32_t>::max();
constexpr int64_t int32_min = std::numeric_limits<int32_t>::min();

// Pixels of the push areas that the fixture does not name.
constexpr PanelPixel mode_button_611_13 = {620, 20};
constexpr PanelPixel gps_hold_button = {645, 20};
constexpr PanelPixel mode_button_611_38 = {620, 45};
constexpr PanelPixel mode_button_637_38 = {645, 45};
constexpr PanelPixel mode_button_611_63 = {620, 70};
constexpr PanelPixel mode_button_637_63 = {645, 70};
constexpr PanelPixel white_button_3 = {10, 85};
constexpr PanelPixel white_button_327 = {335, 80};

// Events as one line of "id=value" words, so that a failure shows both lists readably.
std::string listed(const Events& events) {
    std::string line;
    for (const KeyEvent& event : events) {
        char word[32];
        std::snprintf(word, sizeof word, "%s0x%X=%u", line.empty() ? "" : " ", static_cast<unsigned>(event.id),
                      static_cast<unsigned>(event.value));
        line += word;
    }
    return line.empty() ? "(none)" : line;
}
Events one(uint32_t id, uint32_t value = 0) { return {{id, value}}; }
Events with_zero_values(const std::vector<uint32_t>& ids) {
    Events events;
    for (const uint32_t id : ids) events.push_back({id, 0});
    return events;
}
Events joined(Events first, const Events& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}
const Events disengage = with_zero_values(disengage_sequence);
const Events disengage_with_gps = with_zero_values(disengage_sequence_with_gps);
const Events nothing;

// A signed target as the 32-bit word the host receives.
uint32_t word(int64_t target) { return static_cast<uint32_t>(static_cast<int32_t>(target)); }

class ApControls : public ApGauge {
protected:
    // The engage state as the lights show it. The host's autopilot value 0.5 neither
    // clears the latches (as 0 would) nor counts an engage edge (as 1 would).
    struct EngageLights {
        double first, second, disconnect_bar;
    };
    EngageLights engage_lights() {
        host.set_var(autopilot, 0.5);
        const kestrel::UpdateResult result = update();
        return {*result.samples[ap1_light].value, *result.samples[ap2_light].value,
                *result.samples[disconnect_bar].value};
    }
    // The GPS hold copy is taken by the GPS hold light at an update; the latches survive it.
    void copy_gps_hold(double value) {
        host.set_var(gps_hold, value);
        host.set_var(autopilot, 0.5);
        update();
    }
    Events turn(PanelPixel pixel, uint32_t flags = plain_click) { return click(pixel, flags); }
};

// ==== click areas as the host reads them ================================================

struct Box {
    int32_t x, y, width, height;
};

using kestrel::testing::ApAreaKind;
using kestrel::testing::ApClickArea;
using kestrel::testing::ap_click_areas;

Box box_of(const ApClickArea& area) { return {area.x, area.y, area.width, area.height}; }

const ApClickArea& area_named(std::string_view name) {
    const auto* found = std::find_if(std::begin(ap_click_areas), std::end(ap_click_areas),
                                     [&](const ApClickArea& area) { return area.name == name; });
    if (found == std::end(ap_click_areas)) ADD_FAILURE() << "no area " << name;
    return found != std::end(ap_click_areas) ? *found : ap_click_areas[0];
}

// The tooltip as the host reports it, in UTF-8.
std::optional<std::string> reported_tooltip(const ApClickArea& area) {
    if (area.tooltip == nullptr) return std::nullopt;
    return kestrel::cp1252_to_utf8(area.tooltip);
}

// A child area in gauge pixels, with the record index it has in the list.
struct ChildArea {
    Box box;
    std::size_t record;
};

// The list opens with the whole-gauge parent; each area is its parent, its tooltip record
// if any, its children and its end of parent.
std::vector<std::vector<ChildArea>> children_by_area() {
    std::vector<std::vector<ChildArea>> all;
    std::size_t record = 1;
    for (const ApClickArea& area : ap_click_areas) {
        record += area.tooltip != nullptr ? 2 : 1;
        std::vector<ChildArea> children;
        const kestrel::testing::ApChildren halves = kestrel::testing::children_of(area);
        for (std::size_t child = 0; child < halves.count; ++child) {
            const kestrel::testing::ClickRow& row = halves.rows[child];
            children.push_back({{area.x + row.x, area.y + row.y, row.width, row.height}, record++});
        }
        record += 1;
        all.push_back(children);
    }
    return all;
}

class ApClickAreas : public ApControls {
protected:
    // Help at a point without calling any handler: flags 0 match no area's kinds.
    ClickResult hover(int32_t x, int32_t y) { return driver.click(x, y, 0); }
};

TEST_F(ApClickAreas, ListIsOneHundredAndNineRecordsEndingTheList) {
    const auto& list = driver.mouse_list();
    ASSERT_EQ(list.size(), 109u);
    EXPECT_EQ(list.back().record->rect_kind, 0u);
    EXPECT_EQ(list[107].record->rect_kind, 3u) << "the whole gauge's end of parent";
    std::size_t children = 0;
    for (const auto& entry : list) children += entry.record->rect_kind == 2 ? 1 : 0;
    EXPECT_EQ(children, 31u);
}

TEST_F(ApClickAreas, EveryAreaShowsItsHelpInsideAndNothingJustOutside) {
    ASSERT_EQ(std::size(ap_click_areas), 33u);
    for (const ApClickArea& area : ap_click_areas) {
        SCOPED_TRACE(area.name);
        const Box b = box_of(area);
        const std::pair<int32_t, int32_t> corners[] = {
            {b.x, b.y}, {b.x + b.width - 1, b.y}, {b.x, b.y + b.height - 1}, {b.x + b.width - 1, b.y + b.height - 1}};
        for (const auto& [x, y] : corners) {
            const ClickResult at = hover(x, y);
            EXPECT_EQ(at.help_id, area.help_id) << "(" << x << "," << y << ")";
            EXPECT_EQ(at.tooltip, reported_tooltip(area))
                << "(" << x << "," << y << ")";
        }
        const std::pair<int32_t, int32_t> outside[] = {
            {b.x - 1, b.y}, {b.x, b.y - 1}, {b.x + b.width, b.y + b.height - 1}, {b.x + b.width - 1, b.y + b.height}};
        for (const auto& [x, y] : outside) {
            const ClickResult at = driver.click(x, y, 0xFFFFFFFF);
            EXPECT_EQ(at.help_id, 0u) << "(" << x << "," << y << ")";
            EXPECT_FALSE(at.tooltip.has_value()) << "(" << x << "," << y << ")";
            EXPECT_FALSE(at.area.has_value()) << "(" << x << "," << y << ")";
            EXPECT_TRUE(at.key_events.empty()) << "(" << x << "," << y << ")";
        }
    }
}

TEST_F(ApClickAreas, EveryChildTakesClicksOverItsWholeBoxInsideItsParent) {
    const auto children = children_by_area();
    std::size_t checked = 0;
    for (std::size_t a = 0; a < std::size(ap_click_areas); ++a) {
        SCOPED_TRACE(ap_click_areas[a].name);
        const uint32_t flags = ap_click_areas[a].kind == ApAreaKind::push ? plain_click : coarse_click;
        for (const ChildArea& child : children[a]) {
            const Box b = child.box;
            // The wheel's lower half reaches one row below its parent, where the host
            // routes nothing: its last row inside the parent stands for its bottom.
            const Box parent = box_of(ap_click_areas[a]);
            const int32_t bottom = std::min(b.y + b.height, parent.y + parent.height) - 1;
            const std::pair<int32_t, int32_t> corners[] = {
                {b.x, b.y}, {b.x + b.width - 1, b.y}, {b.x, bottom}, {b.x + b.width - 1, bottom}};
            for (const auto& [x, y] : corners) {
                const ClickResult result = driver.click(x, y, flags);
                EXPECT_EQ(result.area, std::optional<std::size_t>(child.record)) << "(" << x << "," << y << ")";
                EXPECT_EQ(result.result, 0);
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, 31u) << "every child of the list";
}

TEST_F(ApClickAreas, AutopilotDisconnectTooltipIsStoredInWindows1252) {
    const auto& list = driver.mouse_list();
    // A4 is the fourth area after three without tooltips: its parent is record 10.
    ASSERT_EQ(list[10].record->rect_kind, 1u);
    ASSERT_NE(list[10].tooltip, nullptr);
    EXPECT_EQ(std::string(list[10].tooltip), "\xC2utopilot Disconnect Switch");
    EXPECT_EQ(hover(disconnect_switch.x, disconnect_switch.y).tooltip,
              std::optional<std::string>("\xC3\x82utopilot Disconnect Switch"));
}

TEST_F(ApClickAreas, HoverAreasTakeNoClickOfAnyKind) {
    std::size_t hover_areas = 0;
    for (const ApClickArea& area : ap_click_areas) {
        if (area.kind != ApAreaKind::hover) continue;
        ++hover_areas;
        SCOPED_TRACE(area.name);
        const int32_t x = area.x + area.width / 2, y = area.y + area.height / 2;
        for (const uint32_t flags : {plain_click, coarse_click, 0xFFFFFFFFu}) {
            const ClickResult result = driver.click(x, y, flags);
            EXPECT_FALSE(result.area.has_value());
            EXPECT_TRUE(result.key_events.empty());
            EXPECT_EQ(result.help_id, area.help_id);
        }
    }
    EXPECT_EQ(hover_areas, 7u) << "the five read-out windows and the two red lights";
    EXPECT_TRUE(host.key_events_sent().empty());
}

TEST_F(ApClickAreas, PushAreasTakeOnlyClicksWithTheClickBit) {
    const ClickResult result = driver.click(engage_1.x, engage_1.y, 0x80000000 | 0x00200000);
    EXPECT_FALSE(result.area.has_value()) << "a push area takes 0x20000000 only";
    EXPECT_TRUE(host.key_events_sent().empty());
    EXPECT_EQ(listed(click(engage_1, 0x20000000)), listed(disengage));
}

// Both halves of each knob, at the columns where they meet, and the parent's last column,
// which no half covers.
TEST_F(ApClickAreas, KnobsSplitIntoALowerLeftAndARaiseRightHalf) {
    pass_startup_synchronisation();
    struct Knob {
        const char* name;
        const ApClickArea& area;
        uint32_t event;
        int32_t start, fine_step;
    };
    // Targets as the synchronisation left them: every host value 0, so 0 everywhere.
    const Knob knobs[] = {
        {"first angle", area_named("A7"), 0x100B4, 0, 1},
        {"speed", area_named("A8"), 0x101F5, 0, 1},
        {"second angle", area_named("A10"), 0x101FA, 0, 1},
        {"altitude", area_named("A12"), 0x1024C, 0, 100},
    };
    for (const Knob& knob : knobs) {
        SCOPED_TRACE(knob.name);
        ASSERT_EQ(knob.area.kind, ApAreaKind::knob);
        const Box parent = box_of(knob.area);
        const int32_t y = parent.y + 10;
        const int32_t last_lower = parent.x + 17, first_raise = parent.x + 18;
        // Raise twice, lower once: the halves are told apart by the direction of the step.
        const Events raised = click(PanelPixel{first_raise, y});
        ASSERT_FALSE(raised.empty());
        EXPECT_EQ(listed({raised.back()}), listed(one(knob.event, word(knob.start + knob.fine_step))));
        click(PanelPixel{parent.x + 35, y});
        const Events lowered = click(PanelPixel{last_lower, y});
        ASSERT_FALSE(lowered.empty());
        // The speed knob's decrease starts again from the host's speed (0 here).
        const int32_t expected = knob.event == 0x101F5 ? 0 : knob.start + knob.fine_step;
        EXPECT_EQ(listed({lowered.back()}), listed(one(knob.event, word(expected))));
        const ClickResult beyond = driver.click(parent.x + 36, y, 0xFFFFFFFF);
        EXPECT_FALSE(beyond.area.has_value()) << "the parent's last column has no half";
        EXPECT_EQ(beyond.help_id, knob.area.help_id);
    }
}

TEST_F(ApClickAreas, VerticalSpeedWheelLowersAboveAndRaisesBelowAOnePixelGap) {
    pass_startup_synchronisation();
    const int32_t x = 770;
    EXPECT_EQ(listed(click(PanelPixel{x, 43})), listed(one(0x101F4, word(-100)))) << "top row lowers";
    EXPECT_EQ(listed(click(PanelPixel{x, 66})), listed(one(0x101F4, word(-200)))) << "last row of the upper half";
    const ClickResult gap = driver.click(x, 67, 0xFFFFFFFF);
    EXPECT_FALSE(gap.area.has_value()) << "row 67 belongs to neither half";
    EXPECT_TRUE(gap.key_events.empty());
    EXPECT_EQ(gap.help_id, 0xAD8Bu);
    EXPECT_EQ(listed(click(PanelPixel{x, 68})), listed(one(0x101F4, word(-100)))) << "first row of the lower half";
    EXPECT_EQ(listed(click(PanelPixel{x, 90})), listed(one(0x101F4, 0))) << "the parent's last row raises";
    EXPECT_FALSE(driver.click(x, 91, 0xFFFFFFFF).area.has_value()) << "below the parent";
}

// ==== engage buttons and disconnect switch ==============================================

TEST_F(ApControls, AtLoadEitherEngageButtonOnlyDisengages) {
    // Switch disconnected, nothing latched: each click sends the sequence and latches nothing.
    EXPECT_EQ(listed(click(engage_1)), listed(disengage));
    EXPECT_EQ(listed(click(engage_2)), listed(disengage));
    EXPECT_EQ(listed(click(engage_1)), listed(disengage)) << "a latched button would unlatch instead";
    EXPECT_EQ(listed(click(angle2_select_button)), listed(nothing)) << "no latch for a mode button";
    const EngageLights lights = engage_lights();
    EXPECT_EQ(lights.first, dark);
    EXPECT_EQ(lights.second, dark);
    EXPECT_EQ(lights.disconnect_bar, 0.0);
}

TEST_F(ApControls, FirstDisconnectClickSetsTheSwitchNormalSilently) {
    EXPECT_EQ(listed(click(disconnect_switch)), listed(nothing));
    EXPECT_EQ(engage_lights().disconnect_bar, 1.0);
    EXPECT_EQ(listed(click(engage_1)), listed(one(0x10100))) << "the switch is normal: the button latches";
    EXPECT_EQ(engage_lights().first, lit);
}

TEST_F(ApControls, EngageWithTheSwitchNormalLatchesItsButtonAndReleasesTheOther) {
    click(disconnect_switch);
    EXPECT_EQ(listed(click(engage_1)), listed(one(0x10100)));
    EngageLights lights = engage_lights();
    EXPECT_EQ(lights.first, lit);
    EXPECT_EQ(lights.second, dark);

    EXPECT_EQ(listed(click(engage_2)), listed(one(0x10100)));
    lights = engage_lights();
    EXPECT_EQ(lights.second, lit);
    EXPECT_EQ(lights.first, dark);
    EXPECT_EQ(lights.disconnect_bar, 1.0);
    // The first latch was released: unlatching the second leaves none, so the sequence follows.
    EXPECT_EQ(listed(click(engage_2)), listed(disengage));
}

TEST_F(ApControls, EngageClickOnItsOwnLatchUnlatchesAndDisengages) {
    click(disconnect_switch);
    for (const PanelPixel button : {engage_1, engage_2}) {
        SCOPED_TRACE(button.x);
        EXPECT_EQ(listed(click(button)), listed(one(0x10100)));
        EXPECT_EQ(listed(click(button)), listed(disengage));
        const EngageLights lights = engage_lights();
        EXPECT_EQ(lights.first, dark);
        EXPECT_EQ(lights.second, dark);
        EXPECT_EQ(lights.disconnect_bar, 1.0) << "the switch stays normal";
        EXPECT_EQ(listed(click(altitude_select_button)), listed(nothing)) << "no latch left";
    }
}

// Both latches at once, which only the host's engage edge gives: the edge latches the first
// button, the second takes over, and the next update with the engage count still at 1
// latches the first again.
TEST_F(ApControls, EngageClickWithBothLatchedUnlatchesOnlyItsOwnSilently) {
    const auto latch_both = [&] {
        host.set_var(autopilot, 0.0);
        update();  // count and latches back to 0
        host.set_var(autopilot, 1.0);
        update();
        EXPECT_EQ(listed(click(engage_2)), listed(one(0x10100)));
        update();
        EXPECT_EQ(engage_lights().second, lit);
    };
    latch_both();
    EXPECT_EQ(listed(click(engage_1)), listed(nothing));
    EXPECT_EQ(listed(click(engage_2)), listed(disengage)) << "the second was still latched, the first was not";

    latch_both();
    EXPECT_EQ(listed(click(engage_2)), listed(nothing));
    EXPECT_EQ(listed(click(engage_1)), listed(disengage)) << "the first was still latched, the second was not";
}

TEST_F(ApControls, DisconnectFromNormalClearsTheLatchesAndDisengages) {
    host.set_var(disconnect_check, 1.0);
    copy_gps_hold(1.0);
    click(disconnect_switch);
    click(engage_2);
    EXPECT_EQ(listed(click(disconnect_switch)), listed(joined(one(0x10144), disengage_with_gps)));
    const EngageLights lights = engage_lights();
    EXPECT_EQ(lights.disconnect_bar, 0.0);
    EXPECT_EQ(lights.second, dark);
    EXPECT_EQ(lights.first, dark);
    // Disconnected and unlatched: mode buttons and the switch-guarded button stay silent,
    // and an engage click only disengages.
    EXPECT_EQ(listed(click(gps_hold_button)), listed(nothing));
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(nothing));
    EXPECT_EQ(listed(click(engage_1)), listed(disengage_with_gps));
}

TEST_F(ApControls, DisconnectSendsItsCheckEventOnlyWhenToken123IsExactlyOne) {
    for (const double check : {0.5, 0.0, 2.0, -1.0, 0.999999999, 1.000000001, nan, infinity}) {
        host.set_var(disconnect_check, check);
        EXPECT_EQ(listed(click(disconnect_switch)), listed(nothing)) << "to normal";
        EXPECT_EQ(listed(click(disconnect_switch)), listed(disengage)) << "token 123 at " << check;
    }
    host.set_var(disconnect_check, 1.0);
    click(disconnect_switch);
    EXPECT_EQ(listed(click(disconnect_switch)), listed(joined(one(0x10144), disengage)));
    // Read when clicked, not at an update.
    host.set_var(disconnect_check, 0.5);
    click(disconnect_switch);
    EXPECT_EQ(listed(click(disconnect_switch)), listed(disengage));
}

TEST_F(ApControls, DisengageSequenceCarriesTheGpsHoldEventWhenTheCopyIsOne) {
    // The copy truncates the host value: 1.9 counts as 1, 0.99 as 0.
    const std::pair<double, bool> cases[] = {{1.0, true}, {1.9, true},   {0.0, false},  {0.99, false},
                                             {2.0, false}, {-1.0, false}, {-1.5, false}, {nan, false}};
    for (const auto& [gps, with_gps] : cases) {
        copy_gps_hold(gps);
        EXPECT_EQ(listed(click(engage_1)), listed(with_gps ? disengage_with_gps : disengage)) << gps;
    }
    // The copy, not the host value: it follows only at an update.
    host.set_var(gps_hold, 1.0);
    EXPECT_EQ(listed(click(engage_2)), listed(disengage)) << "copy still 0";
    update();
    EXPECT_EQ(listed(click(engage_2)), listed(disengage_with_gps));
    host.set_var(gps_hold, 0.0);
    EXPECT_EQ(listed(click(engage_2)), listed(disengage_with_gps)) << "copy still 1";
}

TEST_F(ApControls, HostAutopilotComingOnSetsTheSwitchAndFirstLatchAndValueZeroClearsLatchesOnly) {
    host.set_var(autopilot, 1.0);
    update();
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(one(0x10144))) << "the switch is normal";
    EXPECT_EQ(listed(click(mode_button_611_13)), listed(one(0x100C1))) << "the first button is latched";

    host.set_var(autopilot, 0.0);
    update();
    EXPECT_EQ(listed(click(mode_button_611_13)), listed(nothing)) << "both latches cleared";
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(one(0x10144))) << "the switch kept its position";
    EXPECT_EQ(listed(click(engage_1)), listed(one(0x10100)));
}

TEST_F(ApControls, HostAutopilotComingOnWhileTheSecondIsLatchedLatchesNothingMore) {
    click(disconnect_switch);
    click(engage_2);
    host.set_var(autopilot, 1.0);
    update();
    update();
    // Were the first latched too, unlatching the second would send nothing.
    EXPECT_EQ(listed(click(engage_2)), listed(disengage));
}

TEST_F(ApControls, SwitchGuardedButtonSendsOnlyWhileTheSwitchIsNormal) {
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(nothing)) << "disconnected at load";
    click(disconnect_switch);
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(one(0x10144)));
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(one(0x10144))) << "it changes nothing itself";
    click(disconnect_switch);
    EXPECT_EQ(listed(click(disconnect_event_button)), listed(nothing));
}

// ==== mode buttons and plain buttons ====================================================

struct Button {
    const char* name;
    PanelPixel pixel;
    uint32_t event;
};
const Button mode_buttons[] = {
    {"A11", angle2_select_button, 0x10106}, {"A13", altitude_select_button, 0x10107},
    {"A15", mode_button_611_13, 0x100C1},   {"A16", gps_hold_button, 0x10347},
    {"A17", mode_button_611_38, 0x10101},   {"A18", mode_button_637_38, 0x100BF},
    {"A19", mode_button_611_63, 0x100BC},   {"A20", mode_button_637_63, 0x100C0},
};
const Button plain_buttons[] = {
    {"A5", toggle_lever_button, 0x102F0}, {"A21", white_button_3, 0x102F5},
    {"A22", panel_switch_button, panel_switch_event}, {"A23", white_button_327, 0x102C1},
    {"A25", lift_dumpers_button, lift_dumpers_event},
};

TEST_F(ApControls, ModeButtonsAreSilentWithoutALatchWhateverTheSwitch) {
    for (const Button& button : mode_buttons) EXPECT_EQ(listed(click(button.pixel)), listed(nothing)) << button.name;
    click(disconnect_switch);
    for (const Button& button : mode_buttons) EXPECT_EQ(listed(click(button.pixel)), listed(nothing)) << button.name;
    EXPECT_TRUE(host.key_events_sent().empty());
}

TEST_F(ApControls, ModeButtonsSendTheirEventWhileEitherButtonIsLatched) {
    click(disconnect_switch);
    for (const PanelPixel engage : {engage_1, engage_2}) {
        SCOPED_TRACE(engage.x);
        click(engage);
        for (const Button& button : mode_buttons) {
            EXPECT_EQ(listed(click(button.pixel)), listed(one(button.event))) << button.name;
            EXPECT_EQ(listed(click(button.pixel)), listed(one(button.event))) << button.name << " again";
        }
    }
    click(engage_2);  // unlatches the last one
    for (const Button& button : mode_buttons) EXPECT_EQ(listed(click(button.pixel)), listed(nothing)) << button.name;
}

TEST_F(ApControls, PlainButtonsAlwaysSendTheirEvent) {
    for (const Button& button : plain_buttons) EXPECT_EQ(listed(click(button.pixel)), listed(one(button.event))) << button.name;
    click(disconnect_switch);
    click(engage_1);
    for (const Button& button : plain_buttons) EXPECT_EQ(listed(click(button.pixel)), listed(one(button.event))) << button.name;
}

// ==== knobs =============================================================================

struct Turn {
    PanelPixel half;
    uint32_t flags;
    int64_t sent;
};

TEST_F(ApControls, FirstAngleKnobWrapsAtZeroAnd360) {
    pass_startup_synchronisation();  // host angle 0: target 0
    const Turn turns[] = {
        {angle_1_lower, plain_click, 359}, {angle_1_raise, plain_click, 360}, {angle_1_raise, plain_click, 1},
        {angle_1_lower, plain_click, 0},   {angle_1_raise, plain_click, 1},   {angle_1_raise, coarse_click, 11},
        {angle_1_lower, plain_click, 10},  {angle_1_lower, coarse_click, 0},  {angle_1_lower, coarse_click, 350},
        {angle_1_raise, coarse_click, 360}, {angle_1_raise, coarse_click, 10}, {angle_1_lower, plain_click, 9},
        {angle_1_lower, plain_click, 8},   {angle_1_lower, plain_click, 7},   {angle_1_lower, plain_click, 6},
        {angle_1_lower, plain_click, 5},   {angle_1_lower, coarse_click, 355}, {angle_1_raise, coarse_click, 5},
    };
    for (const Turn& turn : turns)
        EXPECT_EQ(listed(click(turn.half, turn.flags)), listed(one(0x100B4, word(turn.sent)))) << turn.sent;
}

TEST_F(ApControls, SecondAngleKnobWrapsAndAnnouncesEachIncrease) {
    host.set_var(second_angle, 5.0);
    pass_startup_synchronisation();
    const auto raised = [](int64_t sent) { return joined(one(0x10157), one(0x101FA, word(sent))); };
    const auto lowered = [](int64_t sent) { return one(0x101FA, word(sent)); };
    EXPECT_EQ(listed(click(angle_2_lower, coarse_click)), listed(lowered(355)));
    EXPECT_EQ(listed(click(angle_2_raise, coarse_click)), listed(raised(5)));
    for (int64_t t = 4; t >= 0; --t) EXPECT_EQ(listed(click(angle_2_lower)), listed(lowered(t)));
    EXPECT_EQ(listed(click(angle_2_lower)), listed(lowered(359)));
    EXPECT_EQ(listed(click(angle_2_raise)), listed(raised(360)));
    EXPECT_EQ(listed(click(angle_2_raise)), listed(raised(1)));
    EXPECT_EQ(listed(click(angle_2_lower)), listed(lowered(0)));
    EXPECT_EQ(listed(click(angle_2_lower, coarse_click)), listed(lowered(350)));
    EXPECT_EQ(listed(click(angle_2_raise, coarse_click)), listed(raised(360)));
}

TEST_F(ApControls, AngleTargetsOutsideTheCircleAreCorrectedOncePerClick) {
    host.set_var(first_angle, 725.0);
    host.set_var(second_angle, -400.0);
    pass_startup_synchronisation();
    EXPECT_EQ(sent_target(angle_1_raise), 366);
    EXPECT_EQ(sent_target(angle_1_raise), 7);
    EXPECT_EQ(listed(click(angle_2_lower)), listed(one(0x101FA, word(-41))));
    EXPECT_EQ(sent_target(angle_2_lower), 318);
}

TEST_F(ApControls, SpeedKnobInIasModeStopsAt400AfterOneStepPast) {
    host.set_var(ias, 395.0);
    pass_startup_synchronisation();
    const Turn turns[] = {{speed_raise, coarse_click, 405}, {speed_raise, plain_click, 400},
                          {speed_raise, plain_click, 400},  {speed_raise, coarse_click, 400}};
    for (const Turn& turn : turns)
        EXPECT_EQ(listed(click(turn.half, turn.flags)), listed(one(0x101F5, word(turn.sent)))) << turn.sent;
}

TEST_F(ApControls, SpeedKnobDecreaseStartsFromTheStoredHostSpeed) {
    host.set_var(ias, 150.0);
    pass_startup_synchronisation();
    // The host's speed moves; the read-out stores it at the next update, not before.
    host.set_var(ias, 249.6);
    EXPECT_EQ(listed(click(speed_lower)), listed(one(0x101F5, 149))) << "the stored speed is still 150";
    update();
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, 150))) << "the increase copies nothing";
    EXPECT_EQ(listed(click(speed_lower)), listed(one(0x101F5, 248)));
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, 249)));
    EXPECT_EQ(listed(click(speed_lower, coarse_click)), listed(one(0x101F5, 239)));
}

TEST_F(ApControls, SpeedKnobDecreaseStopsAtZero) {
    pass_startup_synchronisation();
    const std::pair<double, std::pair<uint32_t, int64_t>> cases[] = {
        {0.0, {coarse_click, 0}}, {0.0, {plain_click, 0}},  {5.0, {coarse_click, -5}},
        {-3.0, {plain_click, 0}}, {-0.9, {plain_click, 0}}, {400.7, {coarse_click, 390}},
    };
    for (const auto& [host_speed, turn] : cases) {
        host.set_var(ias, host_speed);
        update();
        EXPECT_EQ(listed(click(speed_lower, turn.first)), listed(one(0x101F5, word(turn.second)))) << host_speed;
    }
}

TEST_F(ApControls, SpeedKnobInMachModeStopsAt99AndDecreasesFromTheHostMach) {
    host.set_var(mach, 0.75);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(speed_mode_button)), listed(nothing));
    const Turn turns[] = {{speed_raise, coarse_click, 85}, {speed_raise, coarse_click, 95},
                          {speed_raise, coarse_click, 105}, {speed_raise, plain_click, 99},
                          {speed_raise, plain_click, 99}};
    for (const Turn& turn : turns)
        EXPECT_EQ(listed(click(turn.half, turn.flags)), listed(one(0x101F6, word(turn.sent)))) << turn.sent;
    host.set_var(mach, 0.05);
    update();
    EXPECT_EQ(listed(click(speed_lower, coarse_click)), listed(one(0x101F6, word(-5))));
    host.set_var(mach, 0.0);
    update();
    EXPECT_EQ(listed(click(speed_lower)), listed(one(0x101F6, 0)));
    EXPECT_EQ(listed(click(speed_lower, coarse_click)), listed(one(0x101F6, 0)));
}

TEST_F(ApControls, SpeedKnobDecreaseCopiesBothHostSpeedsWhateverTheMode) {
    host.set_var(ias, 150.0);
    host.set_var(mach, 0.5);
    pass_startup_synchronisation();
    host.set_var(ias, 249.6);
    host.set_var(mach, 0.3125);
    update();
    // IAS mode: the decrease also copies the Mach target, which the Mach mode then steps.
    EXPECT_EQ(listed(click(speed_lower)), listed(one(0x101F5, 248)));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F6, 32))) << "copied 31, not the synchronised 50";
    // Mach mode: the decrease copies the IAS target too.
    host.set_var(ias, 180.2);
    update();
    EXPECT_EQ(listed(click(speed_lower)), listed(one(0x101F6, 30)));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, 181))) << "copied 180, not the stepped 248";
}

TEST_F(ApControls, AltitudeKnobStopsAt60000AfterOneStepPast) {
    host.set_var(altitude, 59950.0);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(altitude_raise, coarse_click)), listed(one(0x1024C, 60950)));
    EXPECT_EQ(text_after_update(altitude_readout), "60900") << "the window follows the target";
    EXPECT_EQ(listed(click(altitude_raise)), listed(one(0x1024C, 60000)));
    EXPECT_EQ(listed(click(altitude_raise, coarse_click)), listed(one(0x1024C, 60000)));
    EXPECT_EQ(text_after_update(altitude_readout), "60000");
    EXPECT_EQ(listed(click(altitude_lower)), listed(one(0x1024C, 59900)));
}

TEST_F(ApControls, AltitudeKnobStopsAtZeroAfterOneStepPast) {
    host.set_var(altitude, 50.0);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(altitude_lower)), listed(one(0x1024C, word(-50))));
    EXPECT_EQ(listed(click(altitude_lower, coarse_click)), listed(one(0x1024C, 0)));
    EXPECT_EQ(listed(click(altitude_lower)), listed(one(0x1024C, 0)));
    EXPECT_EQ(text_after_update(altitude_readout), "-----");
    EXPECT_EQ(listed(click(altitude_raise)), listed(one(0x1024C, 100)));
    EXPECT_EQ(text_after_update(altitude_readout), "00100");
}

TEST_F(ApControls, VerticalSpeedWheelStopsAtMinus6000AfterOneStepPast) {
    host.set_var(vertical_speed, -5950.0);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(vs_upper_half, coarse_click)), listed(one(0x101F4, word(-6950))));
    EXPECT_EQ(listed(click(vs_upper_half)), listed(one(0x101F4, 0xFFFFE890)));
    EXPECT_EQ(listed(click(vs_upper_half, coarse_click)), listed(one(0x101F4, 0xFFFFE890)));
    EXPECT_EQ(listed(click(vs_lower_half)), listed(one(0x101F4, word(-5900))));
}

TEST_F(ApControls, VerticalSpeedWheelStopsAt6000AfterOneStepPast) {
    host.set_var(vertical_speed, 5950.0);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(vs_lower_half, coarse_click)), listed(one(0x101F4, 6950)));
    EXPECT_EQ(listed(click(vs_lower_half)), listed(one(0x101F4, 6000)));
    EXPECT_EQ(listed(click(vs_lower_half)), listed(one(0x101F4, 6000)));
    EXPECT_EQ(listed(click(vs_upper_half, coarse_click)), listed(one(0x101F4, 5000)));
}

// Before the first update nothing has been copied from the host: the knobs step the
// targets' load values, 100 for IAS and 10 for Mach, 0 for the others.
TEST_F(ApControls, KnobsStepTheLoadValuesBeforeTheFirstUpdate) {
    for (const Token token : {first_angle, second_angle, ias, mach, altitude, vertical_speed}) host.set_var(token, 250.0);
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, 101)));
    EXPECT_EQ(listed(click(angle_1_lower)), listed(one(0x100B4, 359)));
    EXPECT_EQ(listed(click(angle_2_raise)), listed(joined(one(0x10157), one(0x101FA, 1))));
    EXPECT_EQ(listed(click(altitude_raise)), listed(one(0x1024C, 100)));
    EXPECT_EQ(listed(click(vs_lower_half)), listed(one(0x101F4, 100)));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F6, 11)));
}

// Bit 0x80000000 alone chooses the coarse step, whatever else the host sets.
TEST_F(ApControls, EveryKnobHalfStepsCoarseOnBit0x80000000Alone) {
    host.set_var(first_angle, 180.0);
    host.set_var(second_angle, 180.0);
    host.set_var(ias, 200.0);
    host.set_var(altitude, 30000.0);
    host.set_var(vertical_speed, 1.0);
    pass_startup_synchronisation();
    host.set_var(vertical_speed, 0.0);
    struct Half {
        const char* name;
        PanelPixel pixel;
        int direction;
        int64_t fine, coarse;
        int64_t* target;
        bool copies_host_speed;
    };
    int64_t angle_1 = 180, angle_2 = 180, speed = 200, altitude_target = 30000, vs = 1;
    const Half halves[] = {
        {"first angle lower", angle_1_lower, -1, 1, 10, &angle_1, false},
        {"first angle raise", angle_1_raise, +1, 1, 10, &angle_1, false},
        {"second angle lower", angle_2_lower, -1, 1, 10, &angle_2, false},
        {"second angle raise", angle_2_raise, +1, 1, 10, &angle_2, false},
        {"speed lower", speed_lower, -1, 1, 10, &speed, true},
        {"speed raise", speed_raise, +1, 1, 10, &speed, false},
        {"altitude lower", altitude_lower, -1, 100, 1000, &altitude_target, false},
        {"altitude raise", altitude_raise, +1, 100, 1000, &altitude_target, false},
        {"vertical speed lower", vs_upper_half, -1, 100, 1000, &vs, false},
        {"vertical speed raise", vs_lower_half, +1, 100, 1000, &vs, false},
    };
    const std::pair<uint32_t, bool> flag_sets[] = {
        {0x80000000, true},  {0xA0200000, true}, {0xFFFFFFFF, true},  {0x80200000, true},
        {0x20000000, false}, {0x00200000, false}, {0x7FFFFFFF, false}, {0x20200000, false},
    };
    for (const auto& [flags, coarse] : flag_sets) {
        for (const Half& half : halves) {
            const int64_t from = half.copies_host_speed ? 200 : *half.target;
            const int64_t expected = from + half.direction * (coarse ? half.coarse : half.fine);
            EXPECT_EQ(sent_target(half.pixel, flags), expected) << half.name << " with flags " << std::hex << flags;
            *half.target = expected;
        }
    }
}

// ==== targets copied from host values that no 32-bit integer holds ======================

struct WildValue {
    const char* name;
    double host;
    int64_t target;       // the host value truncated, saturated
    int64_t mach_target;  // the Mach value times 100, truncated, saturated
};

void PrintTo(const WildValue& wild, std::ostream* out) { *out << wild.name; }

class ApWildHostValues : public ApControls, public testing::WithParamInterface<WildValue> {};

// Every target's knob in the direction that reaches the end of the 32-bit range first, so
// that an overflow would abort the sanitised twin and a wrong saturation shows in the sent
// value. The rules are those of the other knob tests, applied in 64 bits.
int64_t wrap_down(int64_t target, int64_t step) { return target - step < 0 ? target - step + 360 : target - step; }
int64_t wrap_up(int64_t target, int64_t step) { return target + step > 360 ? target + step - 360 : target + step; }
int64_t bounded_down(int64_t target, int64_t step, int64_t low) {
    return target < low ? low : target > low ? target - step : target;
}
int64_t bounded_up(int64_t target, int64_t step, int64_t high) {
    return target > high ? high : target < high ? target + step : target;
}

TEST_P(ApWildHostValues, TargetsSaturateAndStepWithoutOverflow) {
    const WildValue wild = GetParam();
    for (const Token token : {first_angle, second_angle, ias, mach, altitude, vertical_speed}) host.set_var(token, wild.host);
    pass_startup_synchronisation();
    const bool high = wild.target > 0;

    // Angles: the wrap rule on the saturated target, fine on the first knob, coarse on the second.
    if (high) {
        EXPECT_EQ(listed(click(angle_1_raise)), listed(one(0x100B4, word(wrap_up(wild.target, 1)))));
        EXPECT_EQ(listed(click(angle_2_raise, coarse_click)),
                  listed(joined(one(0x10157), one(0x101FA, word(wrap_up(wild.target, 10))))));
    } else {
        EXPECT_EQ(listed(click(angle_1_lower)), listed(one(0x100B4, word(wrap_down(wild.target, 1)))));
        EXPECT_EQ(listed(click(angle_2_lower, coarse_click)), listed(one(0x101FA, word(wrap_down(wild.target, 10)))));
    }

    // Speed: the increase steps the synchronised IAS target; in Mach mode the increase steps
    // the synchronised Mach target, and the decrease copies both host speeds again.
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, word(bounded_up(wild.target, 1, 400)))));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F6, word(bounded_up(wild.mach_target, 1, 99)))));
    EXPECT_EQ(listed(click(speed_lower, coarse_click)),
              listed(one(0x101F6, word(bounded_down(wild.mach_target, 10, 0)))));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_raise, coarse_click)), listed(one(0x101F5, word(bounded_up(wild.target, 10, 400)))))
        << "the decrease in Mach mode copied the IAS target as well";

    // Altitude and vertical speed: the step away from the limit shows the saturated value.
    if (high) {
        EXPECT_EQ(listed(click(altitude_lower, coarse_click)),
                  listed(one(0x1024C, word(bounded_down(wild.target, 1000, 0)))));
        EXPECT_EQ(listed(click(vs_upper_half, coarse_click)),
                  listed(one(0x101F4, word(bounded_down(wild.target, 1000, -6000)))));
    } else {
        EXPECT_EQ(listed(click(altitude_raise, coarse_click)),
                  listed(one(0x1024C, word(bounded_up(wild.target, 1000, 60000)))));
        EXPECT_EQ(listed(click(vs_lower_half, coarse_click)),
                  listed(one(0x101F4, word(bounded_up(wild.target, 1000, 6000)))));
    }
    // The read-outs keep within their buffers whatever the targets (the host checks).
    update();
}

INSTANTIATE_TEST_SUITE_P(
    ApControls, ApWildHostValues,
    testing::Values(WildValue{"huge", 1e300, int32_max, int32_max}, WildValue{"minus_huge", -1e300, int32_min, int32_min},
                    WildValue{"infinity", infinity, int32_max, int32_max},
                    WildValue{"minus_infinity", -infinity, int32_min, int32_min},
                    WildValue{"nan", nan, 0, 0},
                    WildValue{"just_above_int32", 2147483648.0, int32_max, int32_max},
                    WildValue{"just_below_int32", -2147483649.0, int32_min, int32_min},
                    WildValue{"int32_min_and_a_half", -2147483648.5, int32_min, int32_min},
                    WildValue{"mach_only_out_of_range", 30000000.7, 30000000, int32_max}),
    [](const testing::TestParamInfo<WildValue>& info) { return std::string(info.param.name); });

// The wrap rule at the ends of the 32-bit range, by the values worked out by hand.
TEST_F(ApControls, AngleWrapAtTheEndsOfTheRangeWorksIn64Bits) {
    host.set_var(first_angle, 1e300);
    host.set_var(second_angle, -1e300);
    pass_startup_synchronisation();
    EXPECT_EQ(listed(click(angle_1_raise)), listed(one(0x100B4, 2147483288u)));
    EXPECT_EQ(listed(click(angle_2_lower)), listed(one(0x101FA, word(-2147483289))));
}

// ==== speed mode and hold buttons =======================================================

TEST_F(ApControls, SpeedHoldButtonSendsTheHoldEventOfTheMode) {
    EXPECT_EQ(listed(click(speed_hold_button)), listed(one(0x10163)));
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_hold_button)), listed(one(0x1017B)));
    EXPECT_EQ(listed(click(speed_hold_button)), listed(one(0x1017B))) << "the hold button changes no mode";
    click(speed_mode_button);
    EXPECT_EQ(listed(click(speed_hold_button)), listed(one(0x10163)));
}

TEST_F(ApControls, SpeedModeButtonTogglesTheModeQuietlyWithoutAHold) {
    host.set_var(ias, 250.0);
    host.set_var(mach, 0.75);
    pass_startup_synchronisation();
    EXPECT_EQ(text_after_update(speed_readout), "250");
    EXPECT_EQ(listed(click(speed_mode_button)), listed(nothing));
    EXPECT_EQ(text_after_update(speed_readout), ".75");
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F6, 76))) << "the knob steps the Mach target";
    host.set_var(ias_hold, 0.5);
    host.set_var(mach_hold, 2.0);
    EXPECT_EQ(listed(click(speed_mode_button)), listed(nothing)) << "neither hold value is exactly 1";
    EXPECT_EQ(text_after_update(speed_readout), "250");
    EXPECT_EQ(listed(click(speed_raise)), listed(one(0x101F5, 251)));
}

TEST_F(ApControls, SpeedModeButtonSendsTheNewModesHoldEventWhileAHoldIsOn) {
    // Read when clicked: no update between setting the holds and the clicks.
    host.set_var(ias_hold, 1.0);
    EXPECT_EQ(listed(click(speed_mode_button)), listed(one(0x1017B))) << "IAS to Mach";
    EXPECT_EQ(listed(click(speed_mode_button)), listed(one(0x10163))) << "Mach to IAS";
    host.set_var(ias_hold, 0.0);
    host.set_var(mach_hold, 1.0);
    EXPECT_EQ(listed(click(speed_mode_button)), listed(one(0x1017B)));
    EXPECT_EQ(listed(click(speed_mode_button)), listed(one(0x10163)));
    host.set_var(mach_hold, 0.0);
    EXPECT_EQ(listed(click(speed_mode_button)), listed(nothing));
}

TEST_F(ApControls, SpeedModeButtonRefreshesBothHoldsOnEveryClick) {
    host.set_var(ias_hold, 1.0);
    const std::size_t before = host.lookups().size();
    click(speed_mode_button);
    const std::vector<uint32_t> looked_up(host.lookups().begin() + static_cast<std::ptrdiff_t>(before),
                                          host.lookups().end());
    EXPECT_EQ(looked_up, (std::vector<uint32_t>{ias_hold, mach_hold}));
}

// ==== airbrakes and QNH standard ========================================================

TEST_F(ApControls, AirbrakesButtonCyclesThroughThreeSteps) {
    const uint32_t cycle[] = {0x1013D, 0x10210, 0x10211, 0x1013D, 0x10210, 0x10211, 0x1013D};
    for (const uint32_t event : cycle) EXPECT_EQ(listed(click(airbrakes_button)), listed(one(event)));
}

TEST_F(ApControls, AirbrakesButtonGoesOnFromTheStepTheHandleSet) {
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x1013D))) << "0 to 1";
    host.set_var(airbrake_handle, 16381.0);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x10211))) << "the handle set step 2";
    host.set_var(airbrake_handle, 4800.0);
    host.set_var(airbrakes_input, 1.0);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x10210))) << "the handle set step 1";
    host.set_var(airbrake_handle, 0.0);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x1013D))) << "the handle set step 0";
    // Values the light does not recognise leave the step the button set.
    host.set_var(airbrake_handle, 4800.5);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x10210))) << "still step 1 at 4800.5";
    host.set_var(airbrake_handle, 4800.0);
    host.set_var(airbrakes_input, 0.0);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x10211))) << "still step 2 without the input";
    host.set_var(airbrake_handle, 16380.0);
    update();
    EXPECT_EQ(listed(click(airbrakes_button)), listed(one(0x1013D))) << "still step 0 at 16380";
}

TEST_F(ApControls, QnhButtonTogglesTheStandardRepeatAndSendsNothing) {
    const auto sent_at_tick = [&](double tick) {
        host.set_var(Token::tick, tick);
        return update().key_events;
    };
    EXPECT_EQ(listed(sent_at_tick(36.0)), listed(nothing)) << "off at load";
    EXPECT_EQ(listed(click(qnh_button)), listed(nothing));
    EXPECT_EQ(listed(sent_at_tick(36.0)), listed(one(qnh_standard_event, qnh_standard_value)));
    EXPECT_EQ(listed(sent_at_tick(37.0)), listed(nothing));
    EXPECT_EQ(listed(sent_at_tick(53.0)), listed(nothing));
    EXPECT_EQ(listed(sent_at_tick(54.0)), listed(one(qnh_standard_event, qnh_standard_value)));
    EXPECT_EQ(value_after_update(qnh_std_light), lit);
    EXPECT_EQ(listed(click(qnh_button)), listed(nothing));
    EXPECT_EQ(listed(sent_at_tick(36.0)), listed(nothing)) << "two clicks: off again";
    EXPECT_EQ(value_after_update(qnh_std_light), dark);
    EXPECT_EQ(listed(click(qnh_button)), listed(nothing));
    EXPECT_EQ(listed(sent_at_tick(72.0)), listed(one(qnh_standard_event, qnh_standard_value))) << "and on again";
}

}  // namespace
}  // namespace ap_test
