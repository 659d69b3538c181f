// Traces written and read back, and how the bench judges a run from its exit and trace:
// a finished run, failed expectations, a crash before the end, a hang, a bad scenario.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bench_scratch.h"
#include "run_status.h"
#include "scenario_process.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;

using kestrel::testing::scratch;

trace::GaugeInfo two_elements() {
    trace::ElementInfo root;
    root.label = "0";
    root.resource_id = 8192;
    trace::ElementInfo needle;
    needle.label = "0.0";
    needle.kind = trace::kind_needle;
    needle.resource_id = 7;
    needle.position = {36, 26};
    needle.anchor = {0, 3};
    needle.table = {{{36, 4}, 0}, {{40, 47}, 16384.5}};
    return {"s.scenario", "M", "m.gau", "G", {root, needle}};
}

TEST(BenchTrace, WhatIsWrittenReadsBack) {
    const fs::path path = scratch("round.jsonl");
    {
        trace::TraceWriter writer(path);
        writer.gauge(two_elements());
        writer.command(3, "update 2");
        writer.update(3, 1, {{std::nullopt, 1, std::nullopt}, {0.1, 0x40000000, std::string("\"a\\\xE9")}}, {});
        writer.update(3, 2, {{std::nullopt, 1, std::nullopt}, {NAN, 0, std::nullopt}}, {{0x1024C, 1000}});
        writer.command(4, "key 0x10356 0");
        writer.key(4, {0x10356, 0}, {{}, {}}, {{0x10001, 0xFFFFFFFF}});
        writer.command(5, "picture p");
        writer.picture(5, "p", 2, {{std::nullopt, 1, std::nullopt}, {-INFINITY, 4, std::nullopt}});
        writer.expectation(6, "expect keys none", false, "the module sent 0x1024C=1000");
        writer.end(0, 1);
    }
    const trace::TraceSummary summary = trace::read_trace(path, 1);
    ASSERT_TRUE(summary.gauge);
    EXPECT_EQ(summary.gauge->elements[1].table.size(), 2u);
    EXPECT_EQ(summary.gauge->elements[1].table[1].value, 16384.5);
    EXPECT_EQ(summary.gauge->elements[1].anchor, (trace::Point{0, 3}));
    ASSERT_TRUE(summary.selected_update);
    EXPECT_EQ(summary.selected_update->elements[1].value, 0.1);
    EXPECT_EQ(summary.selected_update->elements[1].text, std::string("\"a\\\xE9"));
    EXPECT_EQ(summary.selected_update->elements[1].image_flags, 0x40000000u);
    ASSERT_EQ(summary.pictures.size(), 1u);
    EXPECT_EQ(summary.pictures[0].label, "p");
    EXPECT_EQ(summary.pictures[0].updates, 2u);
    EXPECT_EQ(*summary.pictures[0].elements[1].value, -INFINITY);
    ASSERT_EQ(summary.key_log.size(), 3u);
    EXPECT_EQ(summary.key_log[0].event, (trace::KeyEvent{0x1024C, 1000}));
    EXPECT_EQ(summary.key_log[1].source, "scenario");
    EXPECT_EQ(summary.key_log[2].event.value, 0xFFFFFFFFu);
    ASSERT_EQ(summary.expectations.size(), 1u);
    EXPECT_FALSE(summary.expectations[0].passed);
    EXPECT_EQ(summary.last_command_line, 5);
    EXPECT_EQ(summary.updates, 2u);
    EXPECT_TRUE(summary.ended);
}

// `expect picture` is judged by the bench: the host records the state, reference and
// tolerance, and the reader hands them back, refusing a reference the bench must not touch.
TEST(BenchTrace, PictureExpectationsReadBackWithTheirStateAndAReferenceOfPlainNames) {
    const fs::path path = scratch("picture-expectation.jsonl");
    {
        trace::TraceWriter writer(path);
        writer.gauge(two_elements());
        writer.command(9, "expect picture pictures/p.png 3");
        writer.picture_expectation(9, "expect picture pictures/p.png 3", "pictures/p.png", 3, 18,
                                   {{std::nullopt, 1, std::nullopt}, {45.0, 0, std::nullopt}});
        writer.end(0, 0);
    }
    const trace::TraceSummary summary = trace::read_trace(path);
    ASSERT_EQ(summary.picture_expectations.size(), 1u);
    const trace::PictureExpectation& expect = summary.picture_expectations[0];
    EXPECT_EQ(expect.line, 9);
    EXPECT_EQ(expect.command, "expect picture pictures/p.png 3");
    EXPECT_EQ(expect.reference, "pictures/p.png");
    EXPECT_EQ(expect.tolerance, 3u);
    EXPECT_EQ(expect.frame.updates, 18u);
    ASSERT_EQ(expect.frame.elements.size(), 2u);
    EXPECT_EQ(expect.frame.elements[1].value, 45.0);
    EXPECT_TRUE(summary.pictures.empty()) << "an expectation is no picture of the scenario's own";

    const std::string whole = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    for (const char* reference : {"../../etc/p.png", "/tmp/p.png", "p.txt"}) {
        std::string damaged = whole;
        const std::string field = "\"reference\":\"pictures/p.png\"";
        ASSERT_NE(damaged.find(field), std::string::npos) << damaged;
        damaged.replace(damaged.find(field), field.size(),
                        std::string("\"reference\":\"") + reference + "\"");
        const fs::path bad = scratch("bad-reference.jsonl");
        std::ofstream(bad) << damaged;
        try {
            trace::read_trace(bad);
            ADD_FAILURE() << reference << " was accepted";
        } catch (const trace::TraceError& error) {
            EXPECT_NE(std::string(error.what()).find(":3: expected a reference picture as a relative .png path"),
                      std::string::npos)
                << error.what();
        }
    }
}

// The writer reuses the text of an element whose state has not changed: every change,
// down to the sign of a zero, must still reach the file, and a change back too.
TEST(BenchTrace, EveryChangeOfAnElementIsWrittenEvenBackToAnEarlierState) {
    const fs::path path = scratch("changes.jsonl");
    const std::vector<trace::ElementState> states[] = {
        {{std::nullopt, 1, std::nullopt}, {0.0, 0, std::string("a")}},
        {{std::nullopt, 1, std::nullopt}, {-0.0, 0, std::string("a")}},
        {{std::nullopt, 3, std::nullopt}, {-0.0, 0, std::string("b")}},
        {{std::nullopt, 1, std::nullopt}, {0.0, 0, std::string("a")}},
        {{std::nullopt, 1, std::nullopt}, {std::nullopt, 0, std::nullopt}},
    };
    {
        trace::TraceWriter writer(path);
        writer.gauge(two_elements());
        for (std::size_t i = 0; i < std::size(states); ++i) writer.picture(2, "p" + std::to_string(i), i, states[i]);
    }
    const trace::TraceSummary summary = trace::read_trace(path);
    ASSERT_EQ(summary.pictures.size(), std::size(states));
    for (std::size_t i = 0; i < std::size(states); ++i) {
        SCOPED_TRACE(i);
        const auto& read = summary.pictures[i].elements;
        ASSERT_EQ(read.size(), 2u);
        EXPECT_EQ(read[0].image_flags, states[i][0].image_flags);
        EXPECT_EQ(read[1].text, states[i][1].text);
        ASSERT_EQ(read[1].value.has_value(), states[i][1].value.has_value());
        if (read[1].value) EXPECT_EQ(std::signbit(*read[1].value), std::signbit(*states[i][1].value));
    }
}

TEST(BenchTrace, ALineCutShortByACrashIsIgnoredAndOtherFaultsAreNamed) {
    const fs::path cut = scratch("cut.jsonl");
    {
        trace::TraceWriter writer(cut);
        writer.gauge(two_elements());
        writer.command(7, "click 10 10");
    }
    std::ofstream(cut, std::ios::app) << "{\"record\":\"upd";
    const trace::TraceSummary summary = trace::read_trace(cut);
    EXPECT_EQ(summary.last_command_line, 7);
    EXPECT_EQ(summary.last_command_text, "click 10 10");
    EXPECT_FALSE(summary.ended);

    const fs::path broken = scratch("broken.jsonl");
    std::ofstream(broken) << "{\"record\":\"command\",\"line\":1,\"text\":\"x\"}\n{\"record\":\"update\"}\n";
    try {
        trace::read_trace(broken);
        FAIL() << "no error";
    } catch (const trace::TraceError& error) {
        EXPECT_EQ(std::string(error.what()), broken.string() + ":2: missing member \"line\"");
    }
    EXPECT_THROW(trace::read_trace(scratch("absent.jsonl")), trace::TraceError);
}

class BenchJudge : public ::testing::Test {
protected:
    void SetUp() override {
        run.scenario = "s.scenario";
        run.trace = scratch("judge.jsonl");
        run.log = scratch("judge.log");
        run.timeout = std::chrono::seconds(30);
        std::ofstream(run.log) << "kestrel host: something broke\n";
    }
    void write_trace(bool with_end, bool failed_expectation) {
        trace::TraceWriter writer(run.trace);
        writer.gauge(two_elements());
        writer.command(9, "update 18");
        writer.expectation(9, "expect value 0.0 3", !failed_expectation, "element 0.0 has the value 4");
        if (with_end) writer.end(failed_expectation ? 0 : 1, failed_expectation ? 1 : 0);
    }
    bench::ScenarioRun run;
};

TEST_F(BenchJudge, FinishedRunsPassOrFailByTheirExpectations) {
    write_trace(true, false);
    EXPECT_EQ(bench::judge_run(run, {bench::ChildExit::Kind::exited, run_passed, {}}).verdict, bench::Verdict::passed);
    write_trace(true, true);
    const auto failed = bench::judge_run(run, {bench::ChildExit::Kind::exited, run_expectation_failed, {}});
    EXPECT_EQ(failed.verdict, bench::Verdict::failed);
    ASSERT_EQ(failed.messages.size(), 1u);
    EXPECT_EQ(failed.messages[0], "s.scenario:9: expect value 0.0 3: element 0.0 has the value 4");
}

TEST_F(BenchJudge, ARunThatStopsBeforeItsEndCrashedAtTheLastCommand) {
    write_trace(false, false);
    for (const bench::ChildExit exit : {bench::ChildExit{bench::ChildExit::Kind::signalled, 11, {}},
                                        bench::ChildExit{bench::ChildExit::Kind::exited, 134, {}},
                                        bench::ChildExit{bench::ChildExit::Kind::exited, run_passed, {}}}) {
        const auto outcome = bench::judge_run(run, exit);
        EXPECT_EQ(outcome.verdict, bench::Verdict::crashed);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].rfind("s.scenario:9: update 18: the host stopped here (", 0), 0u)
            << outcome.messages[0];
        EXPECT_NE(outcome.messages[0].find("something broke"), std::string::npos);
    }
}

TEST_F(BenchJudge, TimeoutsHangAndOtherStatusesSayWhy) {
    write_trace(false, false);
    const auto hung = bench::judge_run(run, {bench::ChildExit::Kind::timed_out, 0, {}});
    EXPECT_EQ(hung.verdict, bench::Verdict::hung);
    EXPECT_EQ(hung.messages.at(0), "s.scenario:9: update 18: no end after 30 s; the process was killed");

    fs::remove(run.trace);
    const auto hung_early = bench::judge_run(run, {bench::ChildExit::Kind::timed_out, 0, {}});
    EXPECT_EQ(hung_early.messages.at(0), "s.scenario: before the first command: no end after 30 s; the process was killed");

    std::ofstream(run.log) << "s.scenario:4: expected a number of updates, found 'x'\n";
    const auto bad = bench::judge_run(run, {bench::ChildExit::Kind::exited, run_bad_scenario, {}});
    EXPECT_EQ(bad.verdict, bench::Verdict::bad_scenario);
    EXPECT_EQ(bad.messages.at(0), "s.scenario:4: expected a number of updates, found 'x'");

    {
        trace::TraceWriter writer(run.trace);
        writer.error(0, "dir: no module M.so");
    }
    const auto host_error = bench::judge_run(run, {bench::ChildExit::Kind::exited, run_host_error, {}});
    EXPECT_EQ(host_error.verdict, bench::Verdict::host_error);
    EXPECT_EQ(host_error.messages.at(0), "s.scenario: dir: no module M.so");
}

TEST(BenchChild, ReportsExitSignalTimeoutAndPrograms_ThatCannotStart) {
    const fs::path log = scratch("child.log");
    const auto exited = bench::run_child({"/bin/sh", "-c", "echo out; exit 3"}, log, std::chrono::seconds(10));
    EXPECT_EQ(exited.kind, bench::ChildExit::Kind::exited);
    EXPECT_EQ(exited.code, 3);
    std::ifstream in(log);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "out");

    const auto signalled = bench::run_child({"/bin/sh", "-c", "kill -SEGV $$"}, log, std::chrono::seconds(10));
    EXPECT_EQ(signalled.kind, bench::ChildExit::Kind::signalled);
    EXPECT_EQ(signalled.code, SIGSEGV);

    // The whole process group goes, so a child that left its own children behind ends too.
    const auto timed_out = bench::run_child({"/bin/sh", "-c", "sleep 30 & sleep 30"}, log, std::chrono::milliseconds(300));
    EXPECT_EQ(timed_out.kind, bench::ChildExit::Kind::timed_out);
    EXPECT_LT(timed_out.elapsed.count(), 10);

    const auto with_environment =
        bench::run_child({"/bin/sh", "-c", "test \"$BENCH_TEST\" = yes"}, log, std::chrono::seconds(10), {"BENCH_TEST=yes"});
    EXPECT_EQ(with_environment.code, 0);

    EXPECT_THROW(bench::run_child({"/nonexistent/program"}, log, std::chrono::seconds(10)), std::runtime_error);
}

}  // namespace
