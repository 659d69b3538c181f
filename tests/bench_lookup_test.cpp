// The one module lookup of run, demo, render and serve: the folders in their documented
// order for a source tree and an install prefix, the first folder that has the module,
// the modules each folder has when none has it, and what serve loads and titles its page
// with; and the live panel's recorder, which names elements by drawing-order index.
#include <gtest/gtest.h>

#include <fstream>

#include "bench_scratch.h"
#include "host_launcher.h"
#include "live_panel.h"
#include "session_recorder.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::testing::scratch;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream{file} << "x";
}

class BenchLookup : public ::testing::Test {
protected:
    void SetUp() override {
        root = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        touch(root / "dist" / "KESTREL_TIMER.gau");
        touch(root / "build" / "windows" / "modules" / "KESTREL_TIMER.gau");
        touch(root / "build" / "windows" / "modules" / "KESTREL.GAU");
        touch(root / "build" / "native-release" / "host" / "kestrel-host");
        touch(root / "build" / "native-release" / "modules" / "KESTREL.so");
    }
    bench::Locations locations() const { return bench::Locations::source_tree(root); }
    fs::path root;
    bench::Options options;
};

TEST_F(BenchLookup, TheFoldersComeInTheDocumentedOrder) {
    EXPECT_EQ(bench::gau_folders(options, locations()),
              (std::vector<fs::path>{root / "dist", root / "build" / "windows" / "modules"}));
    EXPECT_EQ(bench::module_folders(options, locations(), bench::HostKind::twin),
              (std::vector<fs::path>{root / "build" / "native-release" / "modules"}));
    EXPECT_EQ(bench::module_folders(options, locations(), bench::HostKind::wine), bench::gau_folders(options, locations()));
    EXPECT_EQ(bench::module_folders(options, locations(), bench::HostKind::native_gau), bench::gau_folders(options, locations()));

    const fs::path prefix = scratch("prefix");
    const auto installed = bench::Locations::installed(prefix);
    EXPECT_EQ(bench::gau_folders(options, installed), (std::vector<fs::path>{prefix / "lib/kestrel/gau"}));
    EXPECT_EQ(bench::module_folders(options, installed, bench::HostKind::twin), (std::vector<fs::path>{prefix / "lib/kestrel/modules"}));
    EXPECT_EQ(installed.native_host(), prefix / "lib/kestrel/host/kestrel-host");
    EXPECT_EQ(installed.page(), prefix / "share/kestrel/page");
    EXPECT_EQ(installed.demo_scenarios(), prefix / "share/kestrel/scenarios");

    options.gau_dir = "mine";
    options.modules = "theirs";
    EXPECT_EQ(bench::gau_folders(options, locations()), (std::vector<fs::path>{"mine"}));
    EXPECT_EQ(bench::module_folders(options, locations(), bench::HostKind::twin), (std::vector<fs::path>{"theirs"}));
    EXPECT_EQ(bench::module_folders(options, locations(), bench::HostKind::wine), (std::vector<fs::path>{"theirs"}));
}

TEST_F(BenchLookup, TheFirstFolderThatHasTheModuleServesRunAndServeAlike) {
    const auto folders = bench::gau_folders(options, locations());
    EXPECT_EQ(bench::find_module(folders, "kestrel_timer", ".gau"), root / "dist" / "KESTREL_TIMER.gau");
    EXPECT_EQ(bench::find_module(folders, "KESTREL", ".gau"), root / "build" / "windows" / "modules" / "KESTREL.GAU");
    EXPECT_EQ(bench::module_folder_for(folders, "KESTREL_TIMER", ".gau"), root / "dist");
    EXPECT_EQ(bench::module_folder_for(folders, "KESTREL", ".gau"), root / "build" / "windows" / "modules");
    // A module no folder has: the host is handed the first folder, and lists what it has.
    EXPECT_EQ(bench::module_folder_for(folders, "KESTREL_TIMR", ".gau"), root / "dist");

    const serve::ServedModule timer = serve::served_module("KESTREL_TIMER", options, locations(), bench::HostKind::native_gau);
    EXPECT_EQ(timer.loaded, root / "dist" / "KESTREL_TIMER.gau") << "serve looks in dist/ first, as run does";
    EXPECT_EQ(timer.pictures, timer.loaded);
    EXPECT_EQ(timer.name, "KESTREL_TIMER");
}

TEST_F(BenchLookup, AMissingModuleListsWhatEachFolderHas) {
    try {
        bench::find_module(bench::gau_folders(options, locations()), "KESTREL_TIMR", ".gau");
        FAIL() << "found a module that is not there";
    } catch (const bench::UsageError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "no module KESTREL_TIMR.gau (" + root.string() + "/dist: no module KESTREL_TIMR.gau (it has KESTREL_TIMER.gau); " +
                      root.string() + "/build/windows/modules: no module KESTREL_TIMR.gau (it has KESTREL.GAU, KESTREL_TIMER.gau))");
    }
    fs::remove_all(root / "dist");
    fs::remove_all(root / "build" / "windows");
    EXPECT_THROW(bench::module_folder_for(bench::gau_folders(options, locations()), "KESTREL", ".gau"), bench::UsageError);
}

TEST_F(BenchLookup, ServeWithNativeLoadsAndIsTitledByTheTwin) {
    const serve::ServedModule twin = serve::served_module("KESTREL", options, locations(), bench::HostKind::twin);
    EXPECT_EQ(twin.loaded, root / "build" / "native-release" / "modules" / "KESTREL.so");
    EXPECT_EQ(twin.loaded.filename(), "KESTREL.so") << "the page's title";
    EXPECT_EQ(twin.pictures, root / "build" / "windows" / "modules" / "KESTREL.GAU");

    // A .gau file named with --native still runs the twin of that name.
    const fs::path gau = root / "build" / "windows" / "modules" / "KESTREL.GAU";
    const serve::ServedModule from_file = serve::served_module(gau.string(), options, locations(), bench::HostKind::twin);
    EXPECT_EQ(from_file.loaded.filename(), "KESTREL.so");
    EXPECT_EQ(from_file.pictures, gau);
    const serve::ServedModule real = serve::served_module(gau.string(), options, locations(), bench::HostKind::native_gau);
    EXPECT_EQ(real.loaded, gau);

    const fs::path so = root / "build" / "native-release" / "modules" / "KESTREL.so";
    EXPECT_THROW(serve::served_module(so.string(), options, locations(), bench::HostKind::native_gau), bench::UsageError);
    EXPECT_THROW(serve::served_module("../KESTREL", options, locations(), bench::HostKind::native_gau), bench::UsageError);
}

TEST(BenchRecorder, RecordedScenariosNameElementsByDrawingOrderIndex) {
    const serve::GaugeStates before = {{{std::nullopt, 0, std::nullopt}, {1.5, 0, std::nullopt}, {std::nullopt, 0, "12"}}};
    const serve::GaugeStates after = {{{std::nullopt, 0, std::nullopt}, {2.5, 0, std::nullopt}, {std::nullopt, 0, "13"}}};
    serve::SessionRecorder recorder;
    EXPECT_TRUE(recorder.remember("update 1", std::nullopt, 1, before, {}));
    EXPECT_TRUE(recorder.remember("update 1", std::nullopt, 1, after, {}));
    EXPECT_TRUE(recorder.remember("click 3 4 0x20000000", 0, 0, after, {{0, {0x1024C, 1000}}}));
    EXPECT_EQ(recorder.size(), 2u) << "consecutive updates are one step";
    EXPECT_EQ(recorder.scenario_text("module KESTREL_TIMER\ngauge Digital_Clock\n", {{0, "", true}}, 0),
              "# A session in the live panel, recorded for replay with kestrel-bench run.\n"
              "module KESTREL_TIMER\ngauge Digital_Clock\n"
              "update 2\n"
              "expect value [1] 2.5\n"
              "expect text [2] \"13\"\n"
              "click 3 4 0x20000000\n"
              "expect keys 0x1024C=1000\n");
}

}  // namespace
