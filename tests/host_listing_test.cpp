// The inspection listing on test-local records: shared routines show as shared, tooltips
// are decoded to UTF-8, and a host-owned word that a record stores non-zero is flagged.
#include <gtest/gtest.h>

#include <sstream>

#include "host_test_support.h"
#include "module_listing.h"

namespace {

double KESTREL_STDCALL shared_cb(ElementHeader*) { return 0.0; }
int32_t KESTREL_STDCALL push_click(const void*, uint32_t) { return 0; }
uint32_t KESTREL_STDCALL kill() { return 0; }

TEST(Inspect, ListsRecordsWithoutAddresses) {
    IconElement first{};
    IconElement second{};
    StaticImageElement background{};
    ElementHeader* root_children[] = {&first.header, &second.header, nullptr};
    ElementHeader* root = &background.header;
    const FailureEntry failures[] = {{20, 3, 0}, {0, 0, 0}};
    first.header.element_kind = second.header.element_kind = icon_element;
    first.value_callback = second.value_callback = shared_cb;
    first.header.failure_list = failures;
    second.host_owned_96[1] = 7;  // byte 100: never stored by a module
    background.header.next_elements = root_children;
    MouseRect rects[] = {
        mouse_parent_rect({0, 0, 0, 0}, 0),
        mouse_parent_rect({10, 20, 30, 40}, 0),
        mouse_tooltip_rect("Set QNH \x96 Std"),
        mouse_child_rect({1, 2, 3, 4}, 5, mouse_flag_click, push_click),
        mouse_end_of_parent_rect(),
        mouse_end_of_parent_rect(),
        mouse_end_of_list_rect(),
    };
    GaugeHeader header = kestrel::testing::test_gauge_header(&root, rects);
    header.kill_routine = kill;

    std::ostringstream listing;
    kestrel::inspect_gauge(header, listing);
    const std::string text = listing.str();
    auto has = [&](const std::string& line) {
        return text.find(line) != std::string::npos ? ::testing::AssertionSuccess()
                                                     : ::testing::AssertionFailure() << "missing: " << line << "\n" << text;
    };
    EXPECT_TRUE(has("  kill_routine      routine #1\n"));
    EXPECT_TRUE(has("  gauge_callback    none\n"));
    EXPECT_TRUE(has("  elements: 3 in drawing order\n"));
    EXPECT_TRUE(has("      [1] 0.0 IconElement\n"));
    EXPECT_TRUE(has("          failure_list      {key 20, action 3}\n"));
    EXPECT_TRUE(has("          failure_list      none\n"));
    // One callback serves both icons: the same number twice.
    const std::size_t first_use = text.find("value_callback    routine #2");
    ASSERT_NE(first_use, std::string::npos) << text;
    EXPECT_NE(first_use, text.rfind("value_callback    routine #2"));
    EXPECT_EQ(text.find("routine #3"), text.find("handler routine #3") + std::string("handler ").size())
        << "the click handler is the next new routine";
    EXPECT_TRUE(has("host-owned words  NONZERO at byte 100\n"));
    // Decoded for reading, with the stored byte behind the first letter beyond ASCII.
    EXPECT_TRUE(has("text \"Set QNH \xE2\x80\x93 Std\" (Windows-1252: stored byte 8 is 0x96)"));
    EXPECT_TRUE(has("[3]     child box (1,2,3,4) in gauge (11,22,3,4) cursor 5"));
    EXPECT_TRUE(has("[0] parent box (0,0,0,0) whole gauge"));
}

}  // namespace
