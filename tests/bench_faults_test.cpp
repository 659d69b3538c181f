// A module that crashes or hangs inside a callback, run by the bench on the native host:
// the bench names the scenario line that was running and goes on with the next scenario.
// Uses the native build (the host and the misbehaving test module it builds).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bench_native_build.h"
#include "bench_scratch.h"
#include "scenario_process.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;

class BenchFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(build.missing(), "");
        directory = kestrel::testing::scratch_directory() / "faults";
        fs::create_directories(directory);
    }

    bench::ScenarioOutcome run_with_mode(const std::string& name, int mode, double timeout_seconds = 60) {
        const fs::path scenario = directory / (name + ".scenario");
        std::ofstream(scenario) << "module KESTREL_FAULTY\ngauge Faulty\n"
                                << "update 2\n"
                                << "set 1 " << mode << "\n"
                                << "update 3\n"
                                << "expect value 0.0 0\n";
        bench::ScenarioRun run;
        run.scenario = scenario;
        run.host = {bench::HostKind::twin, {build.host.string()}, bench::native_host_environment};
        run.modules = build.modules;
        run.trace = directory / (name + ".jsonl");
        run.log = directory / (name + ".log");
        run.timeout = std::chrono::duration<double>(timeout_seconds);
        return bench::run_scenario(run);
    }

    const kestrel::testing::FaultyModuleHost build = kestrel::testing::faulty_module_host();
    fs::path directory;
};

TEST_F(BenchFaults, AWellBehavedRunPasses) {
    const auto outcome = run_with_mode("behaves", 0);
    EXPECT_EQ(outcome.verdict, bench::Verdict::passed) << (outcome.messages.empty() ? "" : outcome.messages[0]);
}

TEST_F(BenchFaults, ACrashInACallbackNamesTheLineThatRan) {
    const auto outcome = run_with_mode("crashes", 1);
    EXPECT_EQ(outcome.verdict, bench::Verdict::crashed);
    ASSERT_FALSE(outcome.messages.empty());
    EXPECT_NE(outcome.messages[0].find("crashes.scenario:5: update 3: the host stopped here"), std::string::npos)
        << outcome.messages[0];
    ASSERT_TRUE(outcome.trace);
    EXPECT_EQ(outcome.trace->updates, 2u);  // the two updates before the crash were traced
}

TEST_F(BenchFaults, AHangIsKilledAtTheTimeoutAndNamesTheLine) {
    const auto outcome = run_with_mode("hangs", 2, 5);
    EXPECT_EQ(outcome.verdict, bench::Verdict::hung);
    ASSERT_FALSE(outcome.messages.empty());
    EXPECT_EQ(outcome.messages[0].find(directory.string() + "/hangs.scenario:5: update 3: no end after 5 s"), 0u)
        << outcome.messages[0];
    EXPECT_LT(outcome.elapsed.count(), 30);
}

}  // namespace
