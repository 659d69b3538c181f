// What `run` and `render` tell the user, through the program on the native host: bad input
// exits 2 with file:line, a failed scenario 1; scenarios of the same name keep their own
// outputs; the host that ran is named; the host's warnings stand under the verdict; the
// closing line comes also when nothing ran; and render refuses what is not a whole trace.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "bench_program.h"

namespace {

namespace fs = std::filesystem;
using kestrel::testing::ProgramResult;
using kestrel::testing::read_text;
using kestrel::testing::run_bench;
using kestrel::testing::run_shell;
using kestrel::testing::scratch;

const std::string clock_head = "module KESTREL_TIMER\ngauge Digital_Clock\n";

fs::path write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
    return file;
}

// The bench run from `folder`, so that relative names reach it as a user types them.
ProgramResult bench_in(const fs::path& folder, const std::string& arguments) {
    return run_shell("cd '" + folder.string() + "' && '" + KESTREL_BENCH_PROGRAM + "' " + arguments);
}

class BenchVerdicts : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    fs::path folder;
};

TEST_F(BenchVerdicts, ABadScenarioMakesTheRunExit2AndAFailedOne1) {
    write(folder / "sub" / "good.scenario", clock_head + "update\n");
    write(folder / "sub" / "wrong_element.scenario", clock_head + "update\nexpect value 0.9 1\n");
    const auto bad = bench_in(folder, "run --native-gau --out out sub/good.scenario sub/wrong_element.scenario");
    EXPECT_EQ(bad.status, 2) << bad.out << bad.err;
    EXPECT_NE(bad.out.find("BAD SCENARIO wrong_element"), std::string::npos) << bad.out;
    // The path as the user gave it, with the line and what was expected.
    EXPECT_NE(bad.out.find("    sub/wrong_element.scenario:4: gauge Digital_Clock has no element 0.9"), std::string::npos)
        << bad.out;
    EXPECT_NE(bad.out.find("\n1 passed, 0 failed, 1 bad scenario\n"), std::string::npos) << bad.out;

    write(folder / "sub" / "wrong_value.scenario", clock_head + "update\nexpect flags 0 0x12345\n");
    const auto failed = bench_in(folder, "run --native-gau --out out sub/good.scenario sub/wrong_value.scenario");
    EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
    EXPECT_NE(failed.out.find("FAIL         wrong_value"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("    sub/wrong_value.scenario:4: expect flags 0 0x12345: "), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("\n1 passed, 1 failed\n"), std::string::npos) << failed.out;
}

TEST_F(BenchVerdicts, AMalformedOrUnreadableScenarioStopsTheRunBeforeAnythingRuns) {
    write(folder / "broken.scenario", clock_head + "update x\n");
    const auto malformed = bench_in(folder, "run --native-gau --out out broken.scenario");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.err, "broken.scenario:3: expected a number of updates, found 'x'\n");
    EXPECT_EQ(malformed.out, "0 passed, 0 failed: nothing ran (1 bad input above)\n");

    const auto missing = bench_in(folder, "run --native-gau --out out nonexistent.scenario broken.scenario");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("nonexistent.scenario: cannot read: No such file or directory\n"), std::string::npos)
        << missing.err;
    EXPECT_EQ(missing.err.find(":0:"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "0 passed, 0 failed: nothing ran (2 bad inputs above)\n");

    fs::create_directories(folder / "empty");
    const auto empty = bench_in(folder, "run --native-gau --out out empty");
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "empty: no .scenario files in the directory\n");
    EXPECT_NE(empty.out.find("0 passed, 0 failed"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "out" / "traces")) << "nothing may run when an input is bad";
}

TEST_F(BenchVerdicts, ScenariosOfOneNameKeepSeparateTracesLogsAndFrames) {
    write(folder / "dirA" / "x.scenario", clock_head + "update\npicture a\n");
    write(folder / "dirB" / "x.scenario", clock_head + "update 2\npicture b\n");
    const auto result = bench_in(folder, "run --native --out out dirA/x.scenario dirB/x.scenario");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("PASS         dirA/x ("), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("PASS         dirB/x ("), std::string::npos) << result.out;
    for (const char* name : {"dirA/x", "dirB/x"}) {
        EXPECT_TRUE(fs::exists(folder / "out" / "traces" / (std::string(name) + ".jsonl"))) << name;
        EXPECT_TRUE(fs::exists(folder / "out" / "logs" / (std::string(name) + ".log"))) << name;
    }
    EXPECT_TRUE(fs::exists(folder / "out" / "frames" / "dirA" / "x" / "001-a.png"));
    EXPECT_FALSE(fs::exists(folder / "out" / "frames" / "dirA" / "x" / "001-b.png"));
    EXPECT_TRUE(fs::exists(folder / "out" / "frames" / "dirB" / "x" / "001-b.png"));
    EXPECT_NE(read_text(folder / "out" / "traces" / "dirB" / "x.jsonl").find("\"update\":2"), std::string::npos);

    const auto twice = bench_in(folder, "run --native --out out dirA/x.scenario dirA/../dirA/x.scenario");
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("dirA/../dirA/x.scenario: named twice (also as dirA/x.scenario)"), std::string::npos)
        << twice.err;
}

TEST_F(BenchVerdicts, TheRunNamesTheHostThatRanItsScenarios) {
    write(folder / "one.scenario", clock_head + "update\n");
    const auto twin = bench_in(folder, "run --native --out out one.scenario");
    EXPECT_TRUE(std::regex_search(twin.out, std::regex("^host: the native host [^\n]*/kestrel-host on the native twin\n")))
        << twin.out;
    const auto gau = bench_in(folder, "run --native-gau --out out one.scenario");
    EXPECT_TRUE(std::regex_search(gau.out, std::regex("^host: the native host [^\n]*/kestrel-host on the real .gau files\n")))
        << gau.out;
    // Without either: wine where it runs, else the native host, said in a note.
    const auto chosen = bench_in(folder, "run --out out one.scenario");
    EXPECT_EQ(chosen.status, 0) << chosen.out << chosen.err;
    const bool wine = std::regex_search(chosen.out, std::regex("^host: wine, the Windows host [^\n]*kestrel-host.exe on the real .gau files\n"));
    const bool native = std::regex_search(
        chosen.out, std::regex("^NOTE: wine cannot run [^\n]*\nhost: the native host [^\n]* on the real .gau files\n"));
    EXPECT_TRUE(wine != native) << chosen.out;
}

TEST_F(BenchVerdicts, TheHostsWarningsStandUnderTheVerdictLine) {
    // A stand-in host that finishes its trace and warns as the host does for a click
    // that hits no click area.
    const fs::path host = write(folder / "warning-host.sh",
                                "#!/bin/sh\n"
                                "trace=$4\n"
                                "printf '%s\\n' '{\"record\":\"gauge\",\"scenario\":\"s\",\"module\":\"KESTREL_TIMER\","
                                "\"module_file\":\"m.gau\",\"gauge\":\"Digital_Clock\",\"elements\":[]}' "
                                "'{\"record\":\"end\",\"passed\":0,\"failed\":0}' > \"$trace\"\n"
                                "echo \"$2:3: warning: the click at (1, 1) hits no click area\" >&2\n"
                                "echo \"$2: 0 expectations passed, 0 failed\"\n");
    fs::permissions(host, fs::perms::owner_all);
    write(folder / "click.scenario", clock_head + "click 1 1\n");
    const auto result = bench_in(folder, "run --native-gau --host ./warning-host.sh --out out click.scenario");
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("PASS         click (0 expectations, 0 pictures, "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(" s)\n    click.scenario:3: warning: the click at (1, 1) hits no click area\n"),
              std::string::npos)
        << result.out;
}

TEST_F(BenchVerdicts, OneExpectationAndOnePictureAreSaidInTheSingular) {
    write(folder / "single.scenario", clock_head + "update\npicture only\nexpect shown 0\n");
    const auto result = bench_in(folder, "run --native --out out single.scenario");
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("PASS         single (1 expectation, 1 picture, "), std::string::npos) << result.out;
}

TEST_F(BenchVerdicts, RenderTakesOnlyWholeTraces) {
    write(folder / "s" / "drawn.scenario", clock_head + "update\npicture p\n");
    ASSERT_EQ(bench_in(folder, "run --native --out out s/drawn.scenario").status, 0);
    const fs::path trace = folder / "out" / "traces" / "drawn.jsonl";
    const std::string whole = read_text(trace);

    const auto rendered = bench_in(folder, "render --out pictures out/traces/drawn.jsonl");
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_TRUE(fs::exists(folder / "pictures" / "frames" / "drawn" / "001-p.png"));

    const auto scenario = bench_in(folder, "render --out pictures s/drawn.scenario");
    EXPECT_EQ(scenario.status, 2);
    EXPECT_NE(scenario.err.find("s/drawn.scenario: this is a scenario, not a trace: run it first"), std::string::npos)
        << scenario.err;
    write(folder / "s" / "renamed.jsonl", read_text(folder / "s" / "drawn.scenario"));
    const auto renamed = bench_in(folder, "render --out pictures s/renamed.jsonl");
    EXPECT_EQ(renamed.status, 2);
    EXPECT_NE(renamed.err.find("s/renamed.jsonl: this is a scenario, not a trace"), std::string::npos) << renamed.err;

    const auto directory = bench_in(folder, "render --out pictures out/traces");
    EXPECT_EQ(directory.status, 2);
    EXPECT_NE(directory.err.find("out/traces: this is a directory; render takes trace files (.jsonl)"), std::string::npos)
        << directory.err;

    // Cut before its end record, as a crash leaves it: its lines are whole, but the end is missing.
    const std::size_t end_record = whole.rfind("{\"record\":\"end\"");
    ASSERT_NE(end_record, std::string::npos);
    write(folder / "cut.jsonl", whole.substr(0, end_record));
    std::size_t lines = 0;
    for (const char c : whole.substr(0, end_record)) lines += c == '\n';
    const auto cut = bench_in(folder, "render --out pictures cut.jsonl");
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("cut.jsonl:" + std::to_string(lines + 1) + ": expected the trace's end record"), std::string::npos)
        << cut.err;

    write(folder / "after.jsonl", whole + "{\"record\":\"command\",\"line\":3,\"text\":\"update\"}\n");
    const auto after = bench_in(folder, "render --out pictures after.jsonl");
    EXPECT_EQ(after.status, 2);
    EXPECT_NE(after.err.find("after.jsonl:" + std::to_string(lines + 2) + ": expected nothing after the end record"),
              std::string::npos)
        << after.err;

    const auto missing = bench_in(folder, "render --out pictures nonexistent.jsonl");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("nonexistent.jsonl: cannot read: No such file or directory"), std::string::npos) << missing.err;
}

}  // namespace
