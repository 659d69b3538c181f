// The scenario parser: every command in its forms, and malformed scenarios reported with
// the file, the line and what was expected there.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <variant>

#include "scenario.h"

namespace {

using namespace kestrel::scenario;

const std::string head = "module KESTREL_TIMER\ngauge Digital_Clock\n";

// The message of the error a text raises, or "" if it parses.
std::string parse_error(const std::string& text) {
    try {
        parse_scenario(text, "s.scenario");
    } catch (const ScenarioError& error) {
        return error.what();
    }
    return "";
}

TEST(BenchScenario, ReadsEveryCommandWithItsLineAndDefaults) {
    const Scenario s = parse_scenario(head +
                                          "# a comment\n"
                                          "\n"
                                          "set 10 1.5   # lights\n"
                                          "update\n"
                                          "update 18\n"
                                          "click 10 12\n"
                                          "click 3 4 0x80000000\n"
                                          "service 6\n"
                                          "key 0x10356 -1\n"
                                          "picture lit-1\n"
                                          "expect text 0.1 \" 9:05 # not a comment\"\n"
                                          "expect value 0.1.0.0 -30.5\n"
                                          "expect flags 0.0 0x40000005\n"
                                          "expect hidden 0.0\n"
                                          "expect shown 0.1.0.1\n"
                                          "expect keys 0x1024C=1000 0x10356=0\n"
                                          "expect keys none\n",
                                      "dir/clock.scenario");
    EXPECT_EQ(s.module, "KESTREL_TIMER");
    EXPECT_EQ(s.gauge, "Digital_Clock");
    EXPECT_EQ(s.name(), "clock");
    ASSERT_EQ(s.commands.size(), 15u);
    EXPECT_EQ(s.commands[0].line, 5);
    EXPECT_EQ(s.commands[0].text, "set 10 1.5");
    const auto& set = std::get<SetVariable>(s.commands[0].action);
    EXPECT_EQ(set.token, 10u);
    EXPECT_EQ(set.value, 1.5);
    EXPECT_EQ(std::get<RunUpdates>(s.commands[1].action).count, 1u);
    EXPECT_EQ(std::get<RunUpdates>(s.commands[2].action).count, 18u);
    EXPECT_EQ(std::get<Click>(s.commands[3].action).flags, default_click_flags);
    EXPECT_EQ(std::get<Click>(s.commands[4].action).flags, 0x80000000u);
    EXPECT_EQ(std::get<CallService>(s.commands[5].action).service_id, 6);
    EXPECT_EQ(std::get<SendKey>(s.commands[6].action).event, (KeyEvent{0x10356, 0xFFFFFFFF}));
    EXPECT_EQ(std::get<TakePicture>(s.commands[7].action).label, "lit-1");
    EXPECT_EQ(std::get<ExpectText>(s.commands[8].action).text, " 9:05 # not a comment");
    EXPECT_EQ(s.commands[8].text, "expect text 0.1 \" 9:05 # not a comment\"");
    EXPECT_EQ(std::get<ExpectValue>(s.commands[9].action).value, -30.5);
    EXPECT_EQ(std::get<ExpectFlags>(s.commands[10].action).flags, 0x40000005u);
    EXPECT_TRUE(std::get<ExpectHidden>(s.commands[11].action).hidden);
    EXPECT_FALSE(std::get<ExpectHidden>(s.commands[12].action).hidden);
    EXPECT_EQ(std::get<ExpectKeys>(s.commands[13].action).events,
              (std::vector<KeyEvent>{{0x1024C, 1000}, {0x10356, 0}}));
    EXPECT_TRUE(std::get<ExpectKeys>(s.commands[14].action).events.empty());
    EXPECT_TRUE(is_expectation(s.commands[14].action));
    EXPECT_FALSE(is_expectation(s.commands[7].action));
}

TEST(BenchScenario, QuotedTextsKeepEveryByte) {
    const std::string bytes = std::string("a\"b\\c") + '\x01' + '\xE9';
    const Scenario s = parse_scenario(head + "expect text 0.1 " + quote_text(bytes) + "\n", "s");
    EXPECT_EQ(std::get<ExpectText>(s.commands[0].action).text, bytes);
    EXPECT_EQ(format_key_event({0x1024C, 0xFFFFFFFF}), "0x1024C=-1");
}

TEST(BenchScenario, ValuesTakeHexadecimalAsTokensDo) {
    const Scenario s = parse_scenario(head +
                                          "set 0x6D 0x10\n"
                                          "set 109 -0X1f\n"
                                          "expect value [2] 0x2710\n",
                                      "s");
    ASSERT_EQ(s.commands.size(), 3u);
    EXPECT_EQ(std::get<SetVariable>(s.commands[0].action).token, 109u);
    EXPECT_EQ(std::get<SetVariable>(s.commands[0].action).value, 16.0);
    EXPECT_EQ(std::get<SetVariable>(s.commands[1].action).value, -31.0);
    EXPECT_EQ(std::get<ExpectValue>(s.commands[2].action).value, 10000.0);
    // The same readers serve the live panel's number fields.
    EXPECT_EQ(parse_value("0x150"), std::optional<double>(336.0));
    EXPECT_EQ(parse_value("+2.5"), std::optional<double>(2.5));
    EXPECT_TRUE(std::isnan(parse_value("nan").value_or(0)));
    EXPECT_EQ(parse_value("-inf"), std::optional<double>(-INFINITY));
    EXPECT_EQ(parse_whole_number("-0x10"), std::optional<int64_t>(-16));
    for (const char* bad : {"0x", "0x1.8", "0xG", "1x10", "", "+", "--1", "0x10000000000000000"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(parse_value(bad), std::nullopt);
    }
    EXPECT_EQ(parse_error(head + "set 109 0x\n"), "s.scenario:3: expected a value for the variable, found '0x'");
}

TEST(BenchScenario, MalformedLinesNameFileLineAndWhatWasExpected) {
    EXPECT_EQ(parse_error(head + "update 18\nfrobnicate 3\n"),
              "s.scenario:4: expected a command (set, update, click, service, key, picture or expect), found 'frobnicate'");
    EXPECT_EQ(parse_error(head + "\nupdate x\n"), "s.scenario:4: expected a number of updates, found 'x'");
    EXPECT_EQ(parse_error(head + "update 0\n"),
              "s.scenario:3: a number of updates must lie between 1 and 1555200, found '0'");
    EXPECT_EQ(parse_error(head + "set 10\n"), "s.scenario:3: expected a value for the variable after 'set'");
    EXPECT_EQ(parse_error(head + "set 10 1 2\n"), "s.scenario:3: unexpected '2' at the end of the 'set' command");
    EXPECT_EQ(parse_error(head + "click 5\n"), "s.scenario:3: expected the y pixel of the click after 'click'");
    EXPECT_EQ(parse_error(head + "click 1 2 0x1FFFFFFFF\n"),
              "s.scenario:3: the click's flag bits (e.g. 0x20000000) must lie between -2147483648 and 4294967295, "
              "found '0x1FFFFFFFF'");
    EXPECT_EQ(parse_error(head + "expect text 0.1 9:05\n"),
              "s.scenario:3: expected the text in double quotes, e.g. \" 9:05\", found '9:05'");
    EXPECT_EQ(parse_error(head + "expect text 0.1\n"),
              "s.scenario:3: expected the text to expect, in double quotes after 'expect'");
    EXPECT_EQ(parse_error(head + "expect text 0.1 \" 9:05\n"),
              "s.scenario:3: expected a closing '\"' at the end of the quoted text");
    EXPECT_EQ(parse_error(head + "expect text 0.1 \"\\q\"\n"),
              "s.scenario:3: unknown escape '\\q' in a quoted text (use \\\", \\\\ or \\xHH)");
    EXPECT_EQ(parse_error(head + "expect value 1.2 3\n"),
              "s.scenario:3: expected an element as its drawing-order index such as [3] or its tree path such as 0.1.0, found '1.2'");
    EXPECT_EQ(parse_error(head + "expect value 0..1 3\n"),
              "s.scenario:3: expected an element as its drawing-order index such as [3] or its tree path such as 0.1.0, found '0..1'");
    EXPECT_EQ(parse_error(head + "expect keys 0x1024C\n"),
              "s.scenario:3: expected a key event as ID=VALUE (e.g. 0x1024C=1000), found '0x1024C'");
    EXPECT_EQ(parse_error(head + "expect colour 0.1 3\n"),
              "s.scenario:3: expected text, value, flags, hidden, shown, keys or picture after 'expect', found 'colour'");
    EXPECT_EQ(parse_error(head + "picture a/b\n"),
              "s.scenario:3: expected a picture label of letters, digits, '-', '_' or '.', found 'a/b'");
    EXPECT_EQ(parse_error(head + "picture a\nupdate\npicture a\n"),
              "s.scenario:5: picture label 'a' is already used on line 3");
}

TEST(BenchScenario, ModuleAndGaugeComeFirstAndOnce) {
    EXPECT_EQ(parse_error("update\n"), "s.scenario:1: expected 'module NAME' (or 'panel FILE') before the first command");
    EXPECT_EQ(parse_error("module M\nupdate\n"), "s.scenario:2: expected 'gauge NAME' (or 'panel FILE') before the first command");
    EXPECT_EQ(parse_error("# nothing\n"), "s.scenario:1: expected a 'module' line naming the module to run");
    EXPECT_EQ(parse_error("module M\n\n"), "s.scenario:2: expected a 'gauge' line naming the gauge to run");
    EXPECT_EQ(parse_error(head + "module N\n"), "s.scenario:3: a second 'module' line; the first is on line 1");
    EXPECT_EQ(parse_error("module dist/M.gau\n"),
              "s.scenario:1: expected a module name without directory or extension, found 'dist/M.gau'");
    EXPECT_EQ(parse_error("module M\ngauge\n"), "s.scenario:2: expected a gauge name, e.g. Digital_Clock after 'gauge'");
    EXPECT_EQ(parse_error(""), "s.scenario:1: expected a 'module' line naming the module to run");
}

TEST(BenchScenario, UnreadableFileIsNamed) {
    try {
        read_scenario("/nonexistent/x.scenario");
        FAIL() << "no error";
    } catch (const ScenarioError& error) {
        EXPECT_STREQ(error.what(), "/nonexistent/x.scenario: cannot read: No such file or directory");
    }
}

TEST(BenchScenario, ElementsByDrawingOrderIndexAndPath) {
    const Scenario s = parse_scenario(head + "expect value [27] 1\nexpect text 0.1 \"a\"\n", "s.scenario");
    ASSERT_EQ(s.commands.size(), 2u);
    EXPECT_EQ(std::get<ExpectValue>(s.commands[0].action).element, "[27]");
    EXPECT_EQ(element_index_label("[27]"), std::optional<std::size_t>(27));
    EXPECT_EQ(element_index_label("0.1"), std::nullopt);
    for (const char* bad : {"[]", "[-1]", "[1x]", "[12345678]", "27", "[27"})
        EXPECT_NE(parse_error(head + "expect value " + bad + " 1\n"), "") << bad;
}

TEST(BenchScenario, LimitsAreCheckedWhenTheScenarioIsRead) {
    EXPECT_EQ(parse_error(head + "update 1500000\nupdate 55200\n"), "");
    EXPECT_EQ(parse_error(head + "update 1500000\nupdate 55200\nupdate\n"),
              "s.scenario:5: the scenario runs 1555201 updates by this line, more than the 1555200 a scenario may run");
    EXPECT_EQ(parse_error(head + "update 100000000\n"),
              "s.scenario:3: a number of updates must lie between 1 and 1555200, found '100000000'");
    const Scenario s = parse_scenario(head + "update\n", "s.scenario");
    EXPECT_EQ(s.module_line, 1);
    EXPECT_EQ(s.gauge_line, 2);
}

TEST(BenchScenario, PictureExpectationsNameAReferenceBelowTheScenarioAndATolerance) {
    const Scenario s = parse_scenario(head + "expect picture pictures/clock-7.png\nexpect picture a.png 12\n", "s.scenario");
    ASSERT_EQ(s.commands.size(), 2u);
    const auto& first = std::get<ExpectPicture>(s.commands[0].action);
    EXPECT_EQ(first.reference, "pictures/clock-7.png");
    EXPECT_EQ(first.tolerance, 0u);
    EXPECT_EQ(std::get<ExpectPicture>(s.commands[1].action).tolerance, 12u);
    EXPECT_TRUE(is_expectation(s.commands[0].action));
    EXPECT_EQ(s.commands[1].text, "expect picture a.png 12");

    const std::string refused = "s.scenario:3: expected a reference picture as a relative path below the scenario's "
                                "folder, of letters, digits, '-', '_' and '.' and ending in .png, found '";
    for (const char* bad : {"../up.png", "/etc/x.png", "a/../b.png", ".hidden.png", "a//b.png", "x.jpg", ".png",
                            "a\\b.png", "dir/", "a b.png"})
        EXPECT_EQ(parse_error(head + "expect picture " + bad + "\n").rfind(refused, 0), 0u) << bad;
    EXPECT_TRUE(is_valid_reference_path("a/b/c-1_2.x.png"));
    EXPECT_FALSE(is_valid_reference_path(std::string(197, 'a') + ".png"));
    EXPECT_EQ(parse_error(head + "expect picture a.png -1\n"),
              "s.scenario:3: the number of pixels that may differ must lie between 0 and 100000000, found '-1'");
    EXPECT_EQ(parse_error(head + "expect picture a.png 1 2\n"),
              "s.scenario:3: unexpected '2' at the end of the 'expect' command");
    EXPECT_EQ(parse_error(head + "expect picture\n"),
              "s.scenario:3: expected a reference picture, a .png file relative to the scenario after 'expect'");
}

TEST(BenchScenario, ClicksMustLieOnTheGaugesPicture) {
    EXPECT_TRUE(click_on_gauge({0, 0, 0}, 804, 107));
    EXPECT_TRUE(click_on_gauge({803, 106, 0}, 804, 107));
    EXPECT_FALSE(click_on_gauge({804, 10, 0}, 804, 107));
    EXPECT_FALSE(click_on_gauge({10, 107, 0}, 804, 107));
    EXPECT_FALSE(click_on_gauge({-5, 10, 0}, 804, 107));
    EXPECT_EQ(click_outside_gauge({2000, 2000, 0}, "AP", 804, 107),
              "pixel (2000, 2000) is outside gauge AP (804 by 107 pixels, from (0, 0) to (803, 106))");
}

}  // namespace
