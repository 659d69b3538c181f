// A panel window of the real .gau files, each module in its own native host: clicks at
// window coordinates of a scaled gauge land just inside and miss just outside an area,
// host variables reach every module, a key event one module's code sends reaches another
// module's listener, and panel scenarios replay through kestrel-bench run.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "ap_click_rows.h"
#include "bench_locations.h"
#include "bench_program.h"
#include "panel_picture.h"
#include "panel_reader.h"
#include "panel_session.h"
#include "panel_test_settings.h"
#include "scenario.h"
#include "session_recorder.h"
#include "temporary_directory.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;
using kestrel::testing::TemporaryDirectory;

const fs::path& gau_folder = kestrel::testing::windows_gau_folder;
constexpr uint32_t panel_switch_event = 0x10173;
constexpr int32_t register_listener_service = 14;

const kestrel::testing::ApClickArea& ap_area(const char* name) {
    const auto found = std::find_if(std::begin(kestrel::testing::ap_click_areas), std::end(kestrel::testing::ap_click_areas),
                                    [&](const auto& area) { return std::string(area.name) == name; });
    if (found == std::end(kestrel::testing::ap_click_areas)) throw std::runtime_error(std::string("no AP area ") + name);
    return *found;
}

// Whether two recordings of a module's gauges show the same: flags, values and texts.
bool same_states(const std::vector<std::vector<trace::ElementState>>& a,
                 const std::vector<std::vector<trace::ElementState>>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t g = 0; g < a.size(); ++g) {
        if (a[g].size() != b[g].size()) return false;
        for (std::size_t e = 0; e < a[g].size(); ++e)
            if (a[g][e].image_flags != b[g][e].image_flags || a[g][e].value != b[g][e].value || a[g][e].text != b[g][e].text)
                return false;
    }
    return true;
}

bool sent(const StepResult& result, const std::string& source, uint32_t id) {
    return std::any_of(result.sent.begin(), result.sent.end(),
                       [&](const PanelKeyEvent& event) { return event.source == source && event.event.id == id; });
}

class PanelSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(gau_folder / "KESTREL.GAU")) GTEST_SKIP() << "needs the windows build's " << gau_folder;
        settings = kestrel::testing::native_panel_settings(work / "runs");
    }

    Window window_of(const std::string& text) {
        const fs::path file = work / "panel.cfg";
        std::ofstream(file, std::ios::binary) << text;
        return read_panel_file(file).windows.at(0);
    }

    TemporaryDirectory work;
    PanelSessionSettings settings;
};

TEST_F(PanelSessionTest, AClickOnAScaledGaugeLandsJustInsideAnAreaAndMissesJustOutside) {
    // AP at half its width: every window unit is two of the gauge's pixels.
    PanelSession session({window_of("[Window00]\nsize_mm=500,100\ngauge00=KESTREL!AP, 10, 20, 402\n")}, settings);
    session.update(1);
    const PanelGauge& ap = session.gauges().at(0);
    ASSERT_TRUE(ap.problem.empty()) << ap.problem;
    ASSERT_EQ(ap.width, 804);
    ASSERT_EQ(ap.rect.width, 402);
    const auto& area = ap_area("A22");  // the Panel On/Off switch
    const Rect box = scaled_box(ap.rect, ap.width, ap.height, {area.x, area.y, area.width, area.height}, 1);
    ASSERT_GT(box.width, 2);

    const int middle_y = box.y + box.height / 2;
    const StepResult inside = session.click(0, box.x, middle_y, kestrel::testing::ap_push_flags);
    EXPECT_TRUE(inside.area.has_value()) << "the first window unit of the area's box takes the click";
    EXPECT_TRUE(sent(inside, "KESTREL!AP", panel_switch_event)) << "the switch at (" << box.x << ", " << middle_y << ")";
    const GaugePoint first = window_to_gauge(ap, box.x, middle_y);
    EXPECT_GE(first.x, area.x);
    EXPECT_LT(first.x, area.x + 2) << "one window unit is two gauge pixels";

    const StepResult left = session.click(0, box.x - 1, middle_y, kestrel::testing::ap_push_flags);
    EXPECT_FALSE(sent(left, "KESTREL!AP", panel_switch_event)) << "the unit left of the box is outside the switch";
    EXPECT_LT(window_to_gauge(ap, box.x - 1, middle_y).x, area.x);
    const StepResult last = session.click(0, box.x + box.width - 1, box.y + box.height - 1, kestrel::testing::ap_push_flags);
    EXPECT_TRUE(sent(last, "KESTREL!AP", panel_switch_event)) << "the last unit of the box is inside";
    const StepResult below = session.click(0, box.x + 1, box.y + box.height, kestrel::testing::ap_push_flags);
    EXPECT_FALSE(sent(below, "KESTREL!AP", panel_switch_event)) << "the unit below the box is outside";

    EXPECT_THROW(session.click(0, 5, 5, kestrel::testing::ap_push_flags), StepRefused) << "a point on no gauge is refused";
}

TEST_F(PanelSessionTest, OnlyTheGaugesTheWindowsShowRun) {
    PanelSession session({window_of("[Window00]\ngauge00=kestrel!autobrake, 0, 0\ngauge01=KESTREL!NOPE, 100, 0\n")}, settings);
    ASSERT_EQ(session.modules().size(), 1u) << "one host for the module, however its name is written";
    const PanelModule& module = session.modules()[0];
    ASSERT_TRUE(module.stopped.empty()) << module.stopped;
    ASSERT_EQ(module.gauges.size(), 1u) << "AP is on no window: its host must not drive it";
    EXPECT_EQ(module.gauges[0].gauge, "AUTOBRAKE");
    EXPECT_EQ(module.module_gauges, (std::vector<std::string>{"AP", "AUTOBRAKE"}));
    EXPECT_TRUE(session.gauges()[0].problem.empty()) << session.gauges()[0].problem;
    EXPECT_NE(session.gauges()[1].problem.find("has no gauge named NOPE (it has AP, AUTOBRAKE)"), std::string::npos)
        << session.gauges()[1].problem;
}

TEST_F(PanelSessionTest, HostVariablesAreOneValuePerTokenForEveryModule) {
    PanelSession session({window_of("[Window00]\ngauge00=KESTREL!AP, 0, 0\ngauge01=KESTREL_TIMER!Digital_Clock, 0, 120\n")},
                         settings);
    ASSERT_EQ(session.modules().size(), 2u);
    session.set(0x150, 1013.5);
    session.update(1);
    for (const PanelModule& module : session.modules()) {
        ASSERT_TRUE(module.stopped.empty()) << module.name << ": " << module.stopped;
        const auto found = std::find_if(module.vars.begin(), module.vars.end(),
                                        [](const auto& var) { return var.first == 0x150; });
        ASSERT_NE(found, module.vars.end()) << module.name << "'s host never saw the variable set";
        EXPECT_EQ(found->second, 1013.5) << module.name;
    }
}

TEST_F(PanelSessionTest, AKeyEventOneModuleSendsReachesAnotherModulesListener) {
    // A second module file with the same records: its AP listens in a host of its own.
    const fs::path folder = work / "gauges";
    fs::create_directories(folder);
    fs::copy_file(gau_folder / "KESTREL.GAU", folder / "KESTREL.GAU");
    fs::copy_file(gau_folder / "KESTREL.GAU", folder / "OTHER.gau");
    settings.gau_folders = {folder};
    PanelSession session({window_of("[Window00]\ngauge00=KESTREL!AP, 0, 0\ngauge01=OTHER!AP, 0, 200\n")}, settings);
    ASSERT_EQ(session.modules().size(), 2u);
    session.service(register_listener_service, 0);  // every AP registers its listener
    session.update(1);
    ASSERT_EQ(session.modules()[1].listeners, 1u) << "OTHER's AP registered no listener";
    const auto before = session.modules()[1].states;
    const auto& area = ap_area("A22");
    const StepResult click = session.click(0, area.x + 2, area.y + 2, kestrel::testing::ap_push_flags);
    EXPECT_TRUE(sent(click, "KESTREL!AP", panel_switch_event));
    EXPECT_FALSE(sent(click, "OTHER!AP", panel_switch_event)) << "OTHER's code sent nothing: it only listened";
    session.update(1);
    const auto& sender_after = session.modules()[0].states;
    const auto& listener_after = session.modules()[1].states;
    EXPECT_FALSE(same_states(listener_after, before)) << "OTHER's AP shows nothing of the event its listener was handed";
    // The listener in the other host did what the sender's own listener did.
    ASSERT_EQ(sender_after.size(), listener_after.size());
    for (std::size_t e = 0; e < sender_after[0].size(); ++e)
        EXPECT_EQ(sender_after[0][e].image_flags, listener_after[0][e].image_flags) << "element [" << e << "]";
}

// The process ids of this test's children whose command line names `text`.
std::vector<int> children_naming(const std::string& text) {
    std::vector<int> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        int parent = 0;
        rest >> state >> parent;
        if (parent != getpid()) continue;
        std::ifstream cmdline(entry.path() / "cmdline");
        const std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (command.find(text) != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
}

TEST_F(PanelSessionTest, AModuleHostThatDiesStopsAloneAndItsPlaceholderSaysWhy) {
    PanelSession session({window_of("[Window00]\ngauge00=KESTREL!AUTOBRAKE, 0, 0\n"
                                    "gauge01=KESTREL_TIMER!Digital_Clock, 100, 0\n")},
                         settings);
    session.update(1);
    const std::vector<int> clock_hosts = children_naming("KESTREL_TIMER.gau");
    ASSERT_EQ(clock_hosts.size(), 1u) << "the clock's module has one host of its own";
    ASSERT_EQ(::kill(clock_hosts[0], SIGKILL), 0);
    std::string reported;
    for (int tries = 0; tries < 200 && reported.empty(); ++tries) {
        const StepResult step = session.update(1);
        if (!step.stopped.empty()) reported = step.stopped[0];
        ::usleep(10'000);
    }
    EXPECT_NE(reported.find("KESTREL_TIMER: the host was killed by signal 9"), std::string::npos) << reported;
    ASSERT_FALSE(session.modules()[1].stopped.empty()) << "the killed host was never noticed";
    EXPECT_TRUE(session.modules()[0].stopped.empty()) << "KESTREL stopped too: " << session.modules()[0].stopped;
    const uint64_t before = session.updates();
    session.update(3);
    EXPECT_EQ(session.updates(), before + 3) << "the rest of the panel runs on";
    const std::vector<GaugeDrawing> drawn = session.drawings(0, 1);
    EXPECT_TRUE(drawn[0].picture.has_value()) << drawn[0].problem;
    EXPECT_FALSE(drawn[1].picture.has_value());
    EXPECT_NE(drawn[1].problem.find("killed by signal 9"), std::string::npos) << drawn[1].problem;
}

// A gauge line's elements as the page and the recorder name them.
TEST(PanelRecorder, APanelRecordingNamesElementsByModuleAndGaugeAndExpectsOnlyTheWindowsGauges) {
    serve::SessionRecorder recorder;
    const serve::GaugeStates states = {{{2.0, 0, "12"}}, {{std::nullopt, 0, "on"}}};
    ASSERT_TRUE(recorder.remember("click 5 6 0x20000000", 0, 0, states, {{1, {0x10173, 0}}, {0, {0x100DF, 0}}}));
    ASSERT_TRUE(recorder.remember("click 1 1 0x20000000", 1, 0, states, {}));  // on another window: left out
    EXPECT_EQ(recorder.scenario_text("panel p.cfg\nwindow 0\n", {{0, "KESTREL!AP:", true}, {1, "KESTREL!AUTOBRAKE:", false}}, 0),
              "# A session in the live panel, recorded for replay with kestrel-bench run.\n"
              "panel p.cfg\nwindow 0\n"
              "click 5 6 0x20000000\n"
              "expect text KESTREL!AP:[0] \"12\"\n"
              "expect value KESTREL!AP:[0] 2\n"
              "expect keys 0x10173=0 0x100DF=0\n");
}

// Panel scenarios through the command line, as a user runs them.
class PanelScenarioTest : public PanelSessionTest {
protected:
    kestrel::testing::ProgramResult run(const std::string& scenario_text) {
        const fs::path scenario = work / ("s" + std::to_string(++count_) + ".scenario");
        std::ofstream(scenario, std::ios::binary) << scenario_text;
        return kestrel::testing::run_bench("run --native-gau --gau-dir '" + gau_folder.string() + "' --out '" +
                                           (work / "out").string() + "' '" + scenario.string() + "'");
    }
    std::string panel_file() {
        const fs::path file = work / "p.cfg";
        std::ofstream(file, std::ios::binary) << "[Window00]\nsize_mm=300,250\n"
                                                 "gauge00=KESTREL!AUTOBRAKE, 10, 10, 146\n"  // twice its width
                                                 "gauge01=KESTREL_TIMER!Digital_Clock, 170, 10\n";
        return file.string();
    }
    int count_ = 0;
};

TEST_F(PanelScenarioTest, APanelScenarioReplaysOnTheRealModules) {
    const std::string panel = panel_file();
    const auto passed = run("panel " + panel + "\nwindow 0\nupdate 2\nexpect keys none\npicture start\n"
                            "key 0x10173 0\nset 336 2\nupdate 1\npicture end\nexpect picture end-ref.png\n");
    EXPECT_EQ(passed.status, 1) << "no reference yet: the picture expectation fails\n" << passed.out << passed.err;
    EXPECT_NE(passed.out.find("there is no reference picture"), std::string::npos) << passed.out;
    EXPECT_NE(passed.out.find("(2 expectations, 2 pictures"), std::string::npos) << passed.out;
    const fs::path frames = work / "out" / "frames" / "s1";
    ASSERT_TRUE(fs::exists(frames / "002-end.png")) << passed.out;
    const picture::Image end = picture::read_png(frames / "002-end.png");
    EXPECT_EQ(end.width(), 300);
    EXPECT_EQ(end.height(), 250) << "the picture is the whole window";

    const auto failed = run("panel " + panel + "\nupdate 1\nexpect text KESTREL_TIMER!Digital_Clock:[2] \"nonsense\"\n");
    EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
    EXPECT_NE(failed.out.find("s2.scenario:3: failed: expect text KESTREL_TIMER!Digital_Clock:[2] \"nonsense\": element "
                              "KESTREL_TIMER!Digital_Clock:[2] shows"),
              std::string::npos)
        << failed.out;
}

TEST_F(PanelScenarioTest, TheExamplePanelScenarioPassesOnTheRealModulesAndOnTheTwin) {
    const fs::path example = fs::path(KESTREL_SOURCE_DIR) / "examples/panel/main_panel.scenario";
    for (const char* host : {"--native-gau", "--native"}) {
        const auto result = kestrel::testing::run_bench(std::string("run ") + host + " --gau-dir '" + gau_folder.string() +
                                                        "' --out '" + (work / host).string() + "' '" + example.string() + "'");
        EXPECT_EQ(result.status, 0) << host << "\n" << result.out << result.err;
        EXPECT_NE(result.out.find("PASS         main_panel (2 expectations, 1 picture"), std::string::npos)
            << host << "\n" << result.out;
    }
}

TEST_F(PanelScenarioTest, WhatTheWindowLacksIsBadInputOnItsLine) {
    const std::string panel = panel_file();
    const auto no_gauge = run("panel " + panel + "\nupdate 1\nclick 160 5\n");
    EXPECT_EQ(no_gauge.status, 2) << no_gauge.out;
    EXPECT_NE(no_gauge.out.find("s1.scenario:3: point (160, 5) of window 00 is on no gauge"), std::string::npos)
        << no_gauge.out;
    const auto no_module = run("panel " + panel + "\nexpect value KESTREL!AP:[0] 1\n");
    EXPECT_EQ(no_module.status, 2) << no_module.out;
    EXPECT_NE(no_module.out.find("s2.scenario:2: the panel shows no gauge KESTREL!AP (it shows KESTREL!AUTOBRAKE, "
                                 "KESTREL_TIMER!Digital_Clock)"),
              std::string::npos)
        << "a module's gauge that no window shows is none of the panel's: " << no_module.out;
    const auto no_window = run("panel " + panel + "\nwindow 3\nupdate 1\n");
    EXPECT_EQ(no_window.status, 2) << no_window.out;
    EXPECT_NE(no_window.out.find("s3.scenario:2: "), std::string::npos) << no_window.out;
    EXPECT_NE(no_window.out.find("has no window 03 (it has 00 \"00\")"), std::string::npos) << no_window.out;
    const auto unreadable = run("panel missing.cfg\nupdate 1\n");
    EXPECT_EQ(unreadable.status, 2) << unreadable.out;
    EXPECT_NE(unreadable.out.find("s4.scenario:1: the panel file: "), std::string::npos) << unreadable.out;
}

TEST(PanelServe, ABadPanelFileOrNoneStopsServeBeforeAnyHostStarts) {
    TemporaryDirectory work;
    const fs::path bad = work / "bad.cfg";
    std::ofstream(bad, std::ios::binary) << "[Window00]\ngauge00=KESTREL AP, 0, 0\n";
    const auto malformed = kestrel::testing::run_bench("serve --native-gau --port 0 --out '" + (work / "out").string() +
                                                       "' --panel '" + bad.string() + "'");
    EXPECT_EQ(malformed.status, 2) << malformed.out << malformed.err;
    EXPECT_NE(malformed.err.find(bad.generic_string() + ":2: expected MODULE!GAUGE"), std::string::npos) << malformed.err;
    EXPECT_EQ(malformed.out.find("starting"), std::string::npos) << "a host started for a panel file that does not read";
    const auto neither = kestrel::testing::run_bench("serve --port 0");
    EXPECT_EQ(neither.status, 2);
    EXPECT_NE(neither.err.find("name a module, or a panel file with --panel FILE"), std::string::npos) << neither.err;
    const auto both = kestrel::testing::run_bench("serve --port 0 --panel '" + bad.string() + "' KESTREL");
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("MODULE excludes --panel"), std::string::npos) << both.err;
}

TEST(PanelScenarioText, PanelAndWindowLinesAndPanelElementNames) {
    const scenario::Scenario parsed =
        scenario::parse_scenario("panel a/panel.cfg\nwindow 1\nclick 10 20\nexpect text KESTREL!AP:[2] \"x\"\n", "s");
    ASSERT_TRUE(parsed.panel.has_value());
    EXPECT_EQ(parsed.panel->file, "a/panel.cfg");
    EXPECT_EQ(parsed.panel->window, 1);
    EXPECT_EQ(parsed.panel->window_line, 2);
    EXPECT_TRUE(parsed.module.empty());
    ASSERT_EQ(parsed.commands.size(), 2u);
    const auto element = scenario::parse_panel_element("KESTREL!AP:0.1");
    ASSERT_TRUE(element.has_value());
    EXPECT_EQ(element->module, "KESTREL");
    EXPECT_EQ(element->gauge, "AP");
    EXPECT_EQ(element->element, "0.1");
    for (const char* bad : {"KESTREL!AP", "KESTREL:[2]", "!AP:[2]", "KESTREL!:[2]", "KES TREL!AP:[2]", "KESTREL!AP:[x]"})
        EXPECT_FALSE(scenario::parse_panel_element(bad).has_value()) << bad;

    const auto error = [](const char* text) {
        try {
            scenario::parse_scenario(text, "s");
        } catch (const scenario::ScenarioError& failure) {
            return std::string(failure.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(error("window 1\n"), "s:1: expected 'panel FILE' before 'window N'");
    EXPECT_EQ(error("panel p.cfg\nmodule M\n"), "s:2: expected either 'module' and 'gauge' or 'panel', not both (line 1)");
    EXPECT_EQ(error("panel p.cfg\nwindow 100\n"), "s:2: a window number, NN of [WindowNN] must lie between 0 and 99, found '100'");
    EXPECT_NE(error("panel p.cfg\nexpect text [2] \"x\"\n").find("s:2: expected an element of a panel as MODULE!GAUGE:[N]"),
              std::string::npos);
    EXPECT_NE(error("module M\ngauge G\nexpect text KESTREL!AP:[2] \"x\"\n").find("s:3: expected an element as its drawing"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrel::panel
