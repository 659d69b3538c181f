// The host's driving of a gauge, on test-local records: hit-testing of nested click
// areas, the refresh of embedded variables before each callback, key events handed to
// listeners only after the entry that sent them, and read-out overruns caught.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host_test_support.h"

namespace {

using kestrel::HostError;
using kestrel::KeyEvent;
using kestrel::PanelHost;
using kestrel::testing::test_gauge_header;

// ---- click areas --------------------------------------------------------------------

struct HandlerCall {
    int handler;
    PixelPoint point;
    uint32_t flags;
};
std::vector<HandlerCall> handler_calls;

template <int Handler>
int32_t KESTREL_STDCALL record_click(const void* click_point, uint32_t flags) {
    handler_calls.push_back({Handler, *static_cast<const PixelPoint*>(click_point), flags});
    return 100 + Handler;
}

constexpr uint32_t plain = mouse_flag_click;
constexpr uint32_t knob = 0xA0200000;

// Indices in this list are what click() reports.
MouseRect test_mouse_rects[] = {
    mouse_parent_rect({0, 0, 0, 0}, 0xAA1E),                          // 0 whole gauge
    mouse_child_rect({0, 0, 10, 10}, 5, plain, record_click<1>),      // 1
    mouse_parent_rect({20, 10, 40, 20}, 0),                           // 2
    mouse_tooltip_rect("Caf\xE9 \x80"),                               // 3 Windows-1252
    mouse_child_rect({0, 0, 20, 20}, 2, plain, record_click<4>),      // 4 gauge (20,10,20,20)
    mouse_child_rect({20, 0, 20, 20}, 1, knob, record_click<5>),      // 5 gauge (40,10,20,20), adjoins 4
    mouse_child_rect({10, 0, 20, 20}, 5, plain, record_click<6>),     // 6 overlaps 4 and 5
    mouse_end_of_parent_rect(),                                       // 7
    mouse_parent_rect({0, 40, 30, 10}, 0x1234),                       // 8 help only, no children
    mouse_end_of_parent_rect(),                                       // 9
    mouse_parent_rect({100, 100, 10, 10}, 0),                         // 10
    mouse_child_rect({5, 5, 20, 20}, 5, plain, record_click<11>),     // 11 reaches past its parent
    mouse_end_of_parent_rect(),                                       // 12
    mouse_end_of_parent_rect(),                                       // 13
    mouse_end_of_list_rect(),                                         // 14
};

struct ClickGauge : ::testing::Test {
    StaticImageElement background{};
    ElementHeader* root = &background.header;
    GaugeHeader header = test_gauge_header(&root, test_mouse_rects);
    PanelHost host;
    kestrel::GaugeDriver gauge{header, host};

    std::optional<std::size_t> area_at(int32_t x, int32_t y, uint32_t flags = plain) {
        return gauge.click(x, y, flags).area;
    }
    void SetUp() override { handler_calls.clear(); }
};

TEST_F(ClickGauge, ChildBoxesAreRelativeToTheirParent) {
    EXPECT_EQ(area_at(20, 10), 4u);
    EXPECT_EQ(area_at(39, 29), 4u);
    EXPECT_EQ(area_at(19, 10), std::nullopt);
    EXPECT_EQ(area_at(20, 30), std::nullopt);
    EXPECT_EQ(area_at(0, 0), 1u) << "a child of the whole-gauge parent";
    EXPECT_EQ(area_at(9, 9), 1u);
    EXPECT_EQ(area_at(10, 9), std::nullopt) << "width 10 covers x 0..9";
}

TEST_F(ClickGauge, AdjoiningBoxesShareNoPixel) {
    EXPECT_EQ(area_at(39, 15, knob), 4u);
    EXPECT_EQ(area_at(40, 15, knob), 5u);
    EXPECT_EQ(area_at(59, 29, knob), 5u);
    EXPECT_EQ(area_at(60, 15, knob), std::nullopt);
}

TEST_F(ClickGauge, FirstMatchingChildWinsWhereBoxesOverlap) {
    EXPECT_EQ(area_at(35, 15), 4u) << "4 and 6 overlap; 4 comes first";
    EXPECT_EQ(area_at(45, 15), 5u) << "5 and 6 overlap; 5 comes first";
    EXPECT_EQ(area_at(45, 15, mouse_flag_coarse), 5u);
    EXPECT_EQ(area_at(35, 15, mouse_flag_coarse), std::nullopt) << "4 and 6 take no 0x80000000 clicks";
    EXPECT_EQ(area_at(35, 15, 0x00000001), std::nullopt);
    EXPECT_EQ(area_at(35, 15, 0), std::nullopt);
}

TEST_F(ClickGauge, AChildIsClippedToItsParent) {
    EXPECT_EQ(area_at(109, 109), 11u);
    EXPECT_EQ(area_at(110, 110), std::nullopt) << "inside the child's box, outside its parent's";
}

TEST_F(ClickGauge, HandlerGetsThePointAndTheClicksOwnFlags) {
    const kestrel::ClickResult result = gauge.click(45, 12, 0xA0000000);
    EXPECT_EQ(result.area, 5u);
    EXPECT_EQ(result.result, 105);
    ASSERT_EQ(handler_calls.size(), 1u);
    EXPECT_EQ(handler_calls[0].handler, 5);
    EXPECT_EQ(handler_calls[0].point.x, 45);
    EXPECT_EQ(handler_calls[0].point.y, 12);
    EXPECT_EQ(handler_calls[0].flags, 0xA0000000u);

    handler_calls.clear();
    EXPECT_EQ(gauge.click(200, 200, plain).handler, nullptr);
    EXPECT_TRUE(handler_calls.empty()) << "a click on no area calls nothing";
}

TEST_F(ClickGauge, HelpComesFromTheInnermostParentThatCarriesSome) {
    kestrel::ClickResult result = gauge.click(25, 15, plain);
    EXPECT_EQ(result.tooltip, "Caf\xC3\xA9 \xE2\x82\xAC") << "decoded from Windows-1252";
    EXPECT_EQ(result.help_id, 0u);

    result = gauge.click(5, 45, plain);
    EXPECT_EQ(result.area, std::nullopt) << "a parent with no children takes no click";
    EXPECT_EQ(result.help_id, 0x1234u);
    EXPECT_EQ(result.tooltip, std::nullopt);

    result = gauge.click(105, 105, plain);
    EXPECT_EQ(result.help_id, 0xAA1Eu) << "parent 10 has no help: the whole gauge's shows";
    EXPECT_EQ(result.area, 11u);
}

HostError mouse_list_error(std::vector<MouseRect> records) {
    try {
        kestrel::read_mouse_list(records.data());
    } catch (const HostError& error) {
        return error;
    }
    return HostError("no error");
}

TEST(MouseListReading, MalformedListsAreRefusedWithTheRecordAtFault) {
    const MouseRect parent = mouse_parent_rect({0, 0, 0, 0}, 0);
    const MouseRect end_parent = mouse_end_of_parent_rect();
    const MouseRect end_list = mouse_end_of_list_rect();
    const MouseRect child = mouse_child_rect({0, 0, 1, 1}, 5, plain, record_click<1>);

    EXPECT_STREQ(mouse_list_error({parent, end_parent, end_parent, end_list}).what(),
                 "click-area list: record 2: an end of parent without an open parent");
    EXPECT_STREQ(mouse_list_error({parent, parent, end_parent, end_list}).what(),
                 "click-area list: record 3: the list ends with 1 parent(s) still open (first at record 0)");
    EXPECT_STREQ(mouse_list_error({child, end_list}).what(), "click-area list: record 0: a child outside any parent");
    MouseRect odd = end_list;
    odd.rect_kind = 7;
    EXPECT_STREQ(mouse_list_error({parent, odd}).what(), "click-area list: record 1: unknown rect_kind 7");
    // Nested parents without end: the walk stops at its bound instead of reading on.
    std::vector<MouseRect> endless(kestrel::max_mouse_records + 8, parent);
    EXPECT_STREQ(mouse_list_error(endless).what(), "click-area list: no end-of-list record within 4096 records");
    // The smallest valid list.
    EXPECT_EQ(kestrel::read_mouse_list(std::vector<MouseRect>{parent, end_parent, end_list}.data()).size(), 3u);
}

// ---- update, variables and key events -------------------------------------------------

struct SeenValues {
    double needle_var = 0;
    double readout_vars[3] = {};
    bool listener_called_during_callback = false;
    bool in_callback = false;
    std::vector<KeyEvent> heard;
    int readout_length = 3;  // characters the read-out callback writes, without the NUL
    bool readout_terminates = true;
    // Faults made by the needle's callback in the read-out's buffer, and by the read-out's
    // own callback in its record.
    StringElement* needle_writes_into = nullptr;
    int needle_writes_at = 0;  // offset from the read-out's text
    char* readout_points_at = nullptr;
} seen;

double value_at(const void* element, std::size_t offset) {
    double value;
    std::memcpy(&value, static_cast<const unsigned char*>(element) + offset, sizeof value);
    return value;
}

double KESTREL_STDCALL needle_cb(ElementHeader* element) {
    seen.in_callback = true;
    seen.needle_var = value_at(element, 72);
    PanelHost::active()->services().trigger_key_event(0x10001, 5);
    if (seen.needle_writes_into != nullptr) seen.needle_writes_into->text[seen.needle_writes_at] = 'x';
    element->image_flags |= image_hidden;
    seen.in_callback = false;
    return 90.0;
}

double KESTREL_STDCALL readout_cb(ElementHeader* element) {
    for (int i = 0; i < 3; ++i) seen.readout_vars[i] = value_at(element, 72 + 28 * i);
    if (seen.readout_points_at != nullptr) reinterpret_cast<StringElement*>(element)->text = seen.readout_points_at;
    char* text = reinterpret_cast<StringElement*>(element)->text;
    for (int i = 0; i < seen.readout_length; ++i) text[i] = static_cast<char>('a' + i);
    if (seen.readout_terminates) text[seen.readout_length] = '\0';
    return 7.0;
}

void KESTREL_STDCALL listener(uint32_t event_id, uint32_t value, uint32_t user_data) {
    if (seen.in_callback) seen.listener_called_during_callback = true;
    seen.heard.push_back({event_id, value + user_data});
}

struct UpdateGauge : ::testing::Test {
    StaticImageElement background{};
    NeedleElement needle{};
    StringElement readout{};
    IconElement icon{};  // no callback
    ElementHeader* root_children[3] = {&needle.header, &icon.header, nullptr};
    ElementHeader* needle_children[2] = {&readout.header, nullptr};
    ElementHeader* root = &background.header;
    GaugeHeader header;
    PanelHost host;
    std::optional<kestrel::GaugeDriver> gauge;

    void SetUp() override {
        seen = SeenValues{};
        background.header.next_elements = root_children;
        needle.header.element_kind = needle_element;
        needle.header.next_elements = needle_children;
        needle.source_var.token = 7;
        needle.value_callback = needle_cb;
        readout.header.element_kind = string_element;
        readout.header.resource_id = no_resource;
        readout.char_count = 3;
        readout.source_vars[0].token = 3;
        readout.source_vars[1].token = 0;
        readout.source_vars[1].value = 42.0;  // token 0: the host leaves it alone
        readout.source_vars[2].token = 9;
        readout.value_callback = readout_cb;
        icon.header.element_kind = icon_element;
        icon.header.image_flags = 0x3;
        header = test_gauge_header(&root, nullptr);
        gauge.emplace(header, host);
    }

    // The fault an update reports, or "none".
    std::string fault_of_update() {
        try {
            gauge->update();
        } catch (const HostError& error) {
            return error.what();
        }
        return "none";
    }
};

TEST_F(UpdateGauge, ElementsComeInDrawingOrderWithTheirLabels) {
    std::vector<std::string> labels;
    for (const kestrel::ElementEntry& entry : gauge->elements()) labels.push_back(entry.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"0", "0.0", "0.0.0", "0.1"}));
    EXPECT_EQ(&gauge->element(2), &readout.header);
    EXPECT_EQ(gauge->element_index("0.1"), 3u);
}

TEST_F(UpdateGauge, EmbeddedVariablesAreRefreshedBeforeEachCallback) {
    host.set_var(7, 12.5);
    host.set_var(3, -1.0);
    host.set_var(9, 0.1);
    const kestrel::UpdateResult result = gauge->update();
    EXPECT_EQ(seen.needle_var, 12.5);
    EXPECT_EQ(seen.readout_vars[0], -1.0);
    EXPECT_EQ(seen.readout_vars[1], 42.0);
    EXPECT_EQ(seen.readout_vars[2], 0.1);

    ASSERT_EQ(result.samples.size(), 4u);
    EXPECT_EQ(result.samples[0].value, std::nullopt);
    EXPECT_EQ(result.samples[1].value, 90.0);
    EXPECT_EQ(result.samples[1].image_flags, image_hidden) << "flags are read after the callback";
    EXPECT_EQ(result.samples[2].value, 7.0);
    EXPECT_EQ(result.samples[2].text, "abc");
    EXPECT_EQ(result.samples[3].value, std::nullopt);
    EXPECT_EQ(result.samples[3].image_flags, 0x3u);
}

TEST_F(UpdateGauge, KeyEventsReachListenersOnlyAfterTheEntryReturns) {
    host.services().register_key_event_handler(listener, 1000);
    host.services().register_key_event_handler(listener, 1000);  // registered once
    const kestrel::UpdateResult result = gauge->update();
    EXPECT_EQ(result.key_events, (std::vector<KeyEvent>{{0x10001, 5}}));
    EXPECT_FALSE(seen.listener_called_during_callback);
    EXPECT_EQ(seen.heard, (std::vector<KeyEvent>{{0x10001, 1005}}));

    host.send_key_event(0x10173, 0);
    EXPECT_EQ(seen.heard.size(), 1u) << "queued until delivered";
    host.deliver_pending_key_events();
    EXPECT_EQ(seen.heard.back(), (KeyEvent{0x10173, 1000}));
    EXPECT_EQ(host.take_key_events(), (std::vector<KeyEvent>{{0x10001, 5}})) << "only module-sent events are logged";
    EXPECT_TRUE(host.take_key_events().empty());

    host.services().unregister_key_event_handler(listener, 1000);
    gauge->update();
    EXPECT_EQ(seen.heard.size(), 2u);
    EXPECT_EQ(host.key_events_sent().size(), 2u);
}

TEST_F(UpdateGauge, ReadoutOverrunsAreReportedAndTheBufferRestored) {
    seen.readout_length = 5;  // two characters and a NUL past a 3-character read-out
    try {
        gauge->update();
        FAIL() << "overrun not reported";
    } catch (const HostError& error) {
        EXPECT_STREQ(error.what(),
                     "gauge test_gauge: read-out 0.0.0 (element 2, char_count 3): the callback of element 0.0.0 "
                     "wrote past the end of the text buffer");
    }
    seen.readout_length = 4;
    seen.readout_terminates = false;
    try {
        gauge->update();
        FAIL() << "missing NUL not reported";
    } catch (const HostError& error) {
        EXPECT_NE(std::string(error.what()).find("without a NUL"), std::string::npos) << error.what();
    }
    seen.readout_length = 3;
    seen.readout_terminates = true;
    EXPECT_EQ(gauge->update().samples[2].text, "abc");
}

// Updates that leave every buffer as the one before are checked by comparing the whole
// arena with the state that last passed: a fault after such a run must still be seen,
// whichever entry makes it and wherever in the guard it lands.
TEST_F(UpdateGauge, FaultsAfterUnchangedUpdatesAreStillReported) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(fault_of_update(), "none");
    const std::string at_fault = "gauge test_gauge: read-out 0.0.0 (element 2, char_count 3): ";
    // Another element's callback writes one guard byte: the first, a middle one, the last.
    seen.needle_writes_into = &readout;
    int reported = 0;
    for (const int offset : {4, 11, 19}) {
        seen.needle_writes_at = offset;
        EXPECT_EQ(fault_of_update(), at_fault + "the callback of element 0.0 wrote past the end of the text buffer")
            << "guard byte " << offset - 4;
        ++reported;
        seen.needle_writes_into = nullptr;
        EXPECT_EQ(fault_of_update(), "none") << "the buffer was restored";
        seen.needle_writes_into = &readout;
    }
    EXPECT_EQ(reported, 3);
    seen.needle_writes_into = nullptr;
    // The read-out's own callback drops the NUL after unchanged updates.
    EXPECT_EQ(fault_of_update(), "none");
    seen.readout_length = 4;
    seen.readout_terminates = false;
    EXPECT_EQ(fault_of_update(), at_fault + "the callback of element 0.0.0 left the text without a NUL within its buffer");
    seen.readout_length = 3;
    seen.readout_terminates = true;
    EXPECT_EQ(fault_of_update(), "none");
    EXPECT_EQ(gauge->update().samples[2].text, "abc");
}

// The check after each entry compares the buffers a round of 64 bytes at a time, without a
// loop for one or two rounds: a fault is seen whatever the rounds, and in a long text.
TEST_F(UpdateGauge, GuardFaultsAreSeenWhateverTheBuffersSize) {
    int reported = 0;
    for (const uint32_t char_count : {3u, 40u, 60u, 150u}) {
        readout.char_count = char_count;
        gauge.emplace(header, host);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(fault_of_update(), "none") << char_count;
        const std::string at_fault = "gauge test_gauge: read-out 0.0.0 (element 2, char_count " +
                                     std::to_string(char_count) + "): ";
        const auto first_guard = static_cast<int>(char_count + 1);
        for (const int offset : {first_guard, first_guard + 7, first_guard + 15}) {
            seen.needle_writes_into = &readout;
            seen.needle_writes_at = offset;
            EXPECT_EQ(fault_of_update(), at_fault + "the callback of element 0.0 wrote past the end of the text buffer")
                << "char_count " << char_count << ", guard byte " << offset - first_guard;
            seen.needle_writes_into = nullptr;
            EXPECT_EQ(fault_of_update(), "none") << "the buffer was restored";
            ++reported;
        }
    }
    EXPECT_EQ(reported, 12);
}

// The samples' texts are compared with the buffer before being copied: every change of
// length or content must still come through, and an unchanged text stay as it was.
TEST_F(UpdateGauge, SampleTextsFollowEveryChangeOfTheReadout) {
    kestrel::UpdateResult result;
    int compared = 0;
    for (const int length : {3, 3, 2, 0, 0, 1, 3, 2, 2, 3}) {
        seen.readout_length = length;
        gauge->update(result);
        ASSERT_EQ(result.samples[2].text, std::string("abc").substr(0, static_cast<std::size_t>(length)))
            << "after a text of " << length;
        EXPECT_EQ(gauge->text(2), *result.samples[2].text);
        ++compared;
    }
    EXPECT_EQ(compared, 10);
}

// A pointer replaced while the host's buffer keeps its bytes: only the pointer tells.
TEST_F(UpdateGauge, AReplacedTextPointerIsReportedThoughTheBufferIsUnchanged) {
    gauge->update();
    char* const host_buffer = readout.text;
    char elsewhere[8] = {};
    seen.readout_points_at = elsewhere;
    EXPECT_EQ(fault_of_update(),
              "gauge test_gauge: read-out 0.0.0 (element 2, char_count 3): the callback of element 0.0.0 "
              "replaced the host's text pointer");
    EXPECT_STREQ(elsewhere, "abc");
    seen.readout_points_at = nullptr;
    readout.text = host_buffer;
    EXPECT_EQ(gauge->update().samples[2].text, "abc");
}

TEST_F(UpdateGauge, DriverLeavesNoPointerToItsBuffers) {
    EXPECT_NE(readout.text, nullptr);
    gauge.reset();
    EXPECT_EQ(readout.text, nullptr);
}

// ---- the service table itself ---------------------------------------------------------

// ---- records of a loaded module: each must lie in its image -------------------------

// Stands in for a module image: the records inside it, and one list kept outside.
struct Image {
    StaticImageElement background{};
    ElementHeader* root = &background.header;
    MouseRect mouse_rects[3] = {mouse_parent_rect({0, 0, 0, 0}, 0), mouse_end_of_parent_rect(),
                                mouse_end_of_list_rect()};
};

struct BoundedGauge : ::testing::Test {
    Image image;
    MouseRect stray_rects[3] = {mouse_parent_rect({0, 0, 0, 0}, 0), mouse_end_of_parent_rect(),
                                mouse_end_of_list_rect()};
    PanelHost host;
    kestrel::RecordBounds bounds{reinterpret_cast<const unsigned char*>(&image),
                                 reinterpret_cast<const unsigned char*>(&image + 1)};

    std::string refusal(GaugeHeader header) {
        try {
            kestrel::GaugeDriver driver(header, host, bounds);
        } catch (const HostError& error) {
            return error.what();
        }
        return "accepted";
    }
};

TEST_F(BoundedGauge, RecordsInsideTheImageAreDriven) {
    GaugeHeader header = test_gauge_header(&image.root, image.mouse_rects);
    kestrel::GaugeDriver driver(header, host, bounds);
    EXPECT_EQ(driver.elements().size(), 1u);
    EXPECT_EQ(driver.mouse_list().size(), 3u);
}

TEST_F(BoundedGauge, RecordsOutsideTheImageAreRefusedBeforeUse) {
    EXPECT_EQ(refusal(test_gauge_header(&image.root, stray_rects)),
              "click-area list: record 0 points outside the module's image");
    ElementHeader* stray_root = &image.background.header;
    EXPECT_EQ(refusal(test_gauge_header(&stray_root, image.mouse_rects)),
              "gauge test_gauge: element_list points outside the module's image");
    StaticImageElement stray_background{};
    image.root = &stray_background.header;
    const std::string stray_element = refusal(test_gauge_header(&image.root, image.mouse_rects));
    EXPECT_NE(stray_element.find("outside the module's image"), std::string::npos) << stray_element;
}

TEST(PanelServicesTable, LookupVarWritesValueAtByte12Only) {
    PanelHost host;
    host.set_var(5, 3.25);
    unsigned char bytes[sizeof(ModuleVar)];
    std::memset(bytes, 0xAB, sizeof bytes);
    const uint32_t token = 5;
    std::memcpy(bytes, &token, sizeof token);
    host.services().lookup_var(reinterpret_cast<ModuleVar*>(bytes));
    EXPECT_EQ(value_at(bytes, 12), 3.25);
    for (std::size_t i = 4; i < 12; ++i) EXPECT_EQ(bytes[i], 0xAB) << "byte " << i;
    for (std::size_t i = 20; i < 28; ++i) EXPECT_EQ(bytes[i], 0xAB) << "byte " << i;

    ModuleVar unknown{.token = 77, .var_ptr = nullptr, .var_type = 0, .value = 9.0, .previous_value = 0};
    host.services().lookup_var(&unknown);
    EXPECT_EQ(unknown.value, 0.0) << "a variable the host does not have reads 0";
    EXPECT_EQ(host.lookups(), (std::vector<uint32_t>{5, 77}));
}

TEST(PanelServicesTable, OneHostAtATime) {
    PanelHost host;
    EXPECT_THROW(PanelHost second, HostError);
    EXPECT_EQ(PanelHost::active(), &host);
}

TEST(PanelServicesTableDeathTest, SlotsNotOfferedStopTheRunNamingTheirOffset) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            PanelHost host;
            host.services().unused_0x80[1]();
        },
        "panel service slot 0x84, which this host does not offer");
    EXPECT_DEATH(
        {
            PanelHost host;
            host.services().unused_0x00[0]();
        },
        "slot 0x0,");
}

}  // namespace
