// The trace's format: update records that list only what changed, a full record at every
// interval so that a reader can start from one, an unchanged update in a few dozen bytes,
// traces of the first format, which wrote every element every time, still read, and so do
// gauge records without click areas.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_scratch.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::testing::scratch;

// A gauge of `count` elements: the root, then read-outs.
trace::GaugeInfo gauge_of(std::size_t count) {
    trace::GaugeInfo gauge{"s.scenario", "M", "m.gau", "G", {}, std::nullopt, {}};
    for (std::size_t i = 0; i < count; ++i) {
        trace::ElementInfo element;
        element.label = i == 0 ? "0" : "0." + std::to_string(i - 1);
        element.kind = i == 0 ? trace::kind_static_image : trace::kind_string;
        element.char_count = 5;
        gauge.elements.push_back(element);
    }
    return gauge;
}

std::vector<std::string> lines_of(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<trace::ElementState> states_of(std::size_t count, int seed) {
    std::vector<trace::ElementState> states(count);
    for (std::size_t i = 1; i < count; ++i) states[i] = {seed * 1.0 + i, 7, std::to_string(seed % 100)};
    return states;
}

TEST(TraceFormat, AnUnchangedUpdateCostsAtMost48Bytes) {
    const fs::path path = scratch("unchanged.jsonl");
    const std::vector<trace::ElementState> states = states_of(28, 1);
    constexpr uint64_t day = 24 * 3600 * 18;
    {
        trace::TraceWriter writer(path);
        writer.gauge(gauge_of(28));
        writer.update(999, 1, states, {});
        // The largest numbers a scenario of a day reaches, on a line of three digits.
        for (uint64_t update = day - 10; update <= day - 1; ++update) writer.update(999, update, states, {});
        writer.end(0, 0);
    }
    const std::vector<std::string> lines = lines_of(path);
    ASSERT_EQ(lines.size(), 1u + 1u + 10u + 1u);
    for (std::size_t i = 2; i < 12; ++i) {
        EXPECT_LE(lines[i].size() + 1, 48u) << lines[i];
        EXPECT_EQ(lines[i].find("elements"), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines[1].find("\"elements\""), std::string::npos) << "the first update holds every element";
    const trace::TraceSummary summary = trace::read_trace(path, day - 1);
    ASSERT_TRUE(summary.selected_update);
    EXPECT_EQ(summary.selected_update->elements[5].text, states[5].text);
    EXPECT_EQ(summary.updates, day - 1);
}

TEST(TraceFormat, OnlyChangedElementsAreWrittenAndEveryUpdateReadsBackWhole) {
    const fs::path path = scratch("changes.jsonl");
    constexpr std::size_t count = 12;
    constexpr uint64_t updates = 2 * trace::full_record_interval + 500;
    std::mt19937 random(7);
    std::vector<std::vector<trace::ElementState>> written;
    std::vector<std::size_t> changes_per_update;
    {
        trace::TraceWriter writer(path);
        writer.gauge(gauge_of(count));
        std::vector<trace::ElementState> states = states_of(count, 0);
        for (uint64_t update = 1; update <= updates; ++update) {
            // Now and then an element changes: a value, its flags or its text.
            std::size_t changed = 0;
            for (std::size_t i = 1; i < count; ++i) {
                if (random() % 16 != 0) continue;
                ++changed;
                switch (random() % 3) {
                    case 0: states[i].value = static_cast<double>(random() % 1000) / 8; break;
                    case 1: states[i].image_flags ^= 0x40000000; break;
                    default: states[i].text = std::to_string(random() % 100000); break;
                }
            }
            writer.update(4, update, states, {});
            written.push_back(states);
            changes_per_update.push_back(changed);
        }
        writer.end(0, 0);
    }
    const std::vector<std::string> lines = lines_of(path);
    ASSERT_EQ(lines.size(), updates + 2);
    std::size_t full_records = 0;
    for (uint64_t update = 1; update <= updates; ++update) {
        const std::string& line = lines[update];
        const bool full = line.find("\"elements\"") != std::string::npos;
        full_records += full;
        if (update == 1 || update % trace::full_record_interval == 0) {
            EXPECT_TRUE(full) << "update " << update;
            continue;
        }
        ASSERT_FALSE(full) << "update " << update;
        // One "[index," opens each change.
        std::size_t listed = 0;
        for (std::size_t at = line.find("[["); at != std::string::npos && at < line.size(); at = line.find(",[", at + 1))
            ++listed;
        EXPECT_EQ(listed, changes_per_update[update - 1]) << line;
    }
    EXPECT_EQ(full_records, 1 + updates / trace::full_record_interval);
    for (const uint64_t update : {uint64_t{1}, uint64_t{2}, uint64_t{999}, uint64_t{1000}, uint64_t{1001}, uint64_t{1777},
                                  uint64_t{2000}, updates}) {
        const trace::TraceSummary summary = trace::read_trace(path, update);
        ASSERT_TRUE(summary.selected_update) << update;
        const auto& read = summary.selected_update->elements;
        const auto& expected = written[update - 1];
        ASSERT_EQ(read.size(), expected.size());
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(read[i].value, expected[i].value) << update << ": " << i;
            EXPECT_EQ(read[i].image_flags, expected[i].image_flags) << update << ": " << i;
            EXPECT_EQ(read[i].text, expected[i].text) << update << ": " << i;
        }
    }
}

// The host hands the writer a version of the states that moves whenever they change, so
// that an unchanged update is written without comparing them: what it writes must be what
// the comparison writes, byte for byte, sent keys, full records and large numbers included.
TEST(TraceFormat, UpdatesOfAKnownVersionAreWrittenAsComparedOnesAre) {
    const fs::path compared = scratch("compared.jsonl");
    const fs::path versioned = scratch("versioned.jsonl");
    constexpr std::size_t count = 6;
    std::mt19937 random(11);
    std::vector<std::vector<trace::ElementState>> sequence;
    std::vector<uint64_t> versions;
    std::vector<std::vector<KeyEvent>> sent;
    std::vector<trace::ElementState> states = states_of(count, 3);
    uint64_t version = 0;
    for (int i = 0; i < 3000; ++i) {
        if (random() % 8 == 0) {
            states[1 + random() % (count - 1)].image_flags ^= 0x40000000;
            ++version;
        }
        sequence.push_back(states);
        versions.push_back(version);
        sent.push_back(random() % 50 == 0 ? std::vector<KeyEvent>{{0x10356, 0}} : std::vector<KeyEvent>{});
    }
    std::size_t unchanged = 0;
    for (const bool with_version : {false, true}) {
        trace::TraceWriter writer(with_version ? versioned : compared);
        writer.gauge(gauge_of(count));
        // One vector holds the states, as the executor's does, refilled before each update.
        std::vector<trace::ElementState> held;
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            held = sequence[i];
            const uint64_t update = i < 2000 ? i + 1 : 4294967290ull + i;  // past 32 bits too
            if (with_version) writer.update(7, update, held, sent[i], versions[i]);
            else writer.update(7, update, held, sent[i]);
            if (i % 100 == 0) writer.picture(8, "p", update, held);  // a record of all states, no version
            unchanged += with_version && i > 0 && versions[i] == versions[i - 1] && sent[i].empty();
        }
        writer.end(0, 0);
    }
    EXPECT_GT(unchanged, 1000u);
    const std::vector<std::string> a = lines_of(compared);
    const std::vector<std::string> b = lines_of(versioned);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "line " << i + 1;
}

// A trace of the first format, as a host before this one wrote it (committed with the
// trace reader's fuzz seeds): it still reads, and its states written again in the
// current format read back the same at every update.
TEST(TraceFormat, TracesOfTheFirstFormatStillRead) {
    const fs::path old_trace = fs::path(KESTREL_SOURCE_DIR) / "fuzz/corpus/trace_fuzz/clock_date.jsonl";
    ASSERT_EQ(lines_of(old_trace).front().find("\"format\""), std::string::npos) << "the trace is not of the first format";
    const trace::TraceSummary old_summary = trace::read_trace(old_trace);
    ASSERT_TRUE(old_summary.gauge);
    ASSERT_GE(old_summary.updates, 2u);
    EXPECT_FALSE(old_summary.pictures.empty());
    EXPECT_TRUE(old_summary.gauge->areas.empty()) << "a trace written before click areas were recorded has none";

    const fs::path rewritten = scratch("rewritten.jsonl");
    std::vector<std::vector<trace::ElementState>> states;
    {
        trace::TraceWriter writer(rewritten);
        writer.gauge(*old_summary.gauge);
        for (uint64_t update = 1; update <= old_summary.updates; ++update) {
            const trace::TraceSummary at = trace::read_trace(old_trace, update);
            ASSERT_TRUE(at.selected_update) << update;
            states.push_back(at.selected_update->elements);
            writer.update(at.selected_update->line, update, states.back(), {});
        }
        writer.end(0, 0);
    }
    ASSERT_NE(lines_of(rewritten).front().find("\"format\":2"), std::string::npos);
    for (uint64_t update = 1; update <= old_summary.updates; ++update) {
        const trace::TraceSummary at = trace::read_trace(rewritten, update);
        ASSERT_TRUE(at.selected_update) << update;
        ASSERT_EQ(at.selected_update->elements.size(), states[update - 1].size());
        for (std::size_t i = 0; i < states[update - 1].size(); ++i) {
            EXPECT_EQ(at.selected_update->elements[i].text, states[update - 1][i].text) << update << ": " << i;
            EXPECT_EQ(at.selected_update->elements[i].image_flags, states[update - 1][i].image_flags) << update << ": " << i;
        }
    }
}

TEST(TraceFormat, ClickAreasReadBackWithTheirTooltipBytes) {
    trace::GaugeInfo gauge = gauge_of(1);
    gauge.areas.push_back({0, 0, 0, 0, true, true, 0, std::string("Whole \xE9")});
    gauge.areas.push_back({12, -3, 40, 20, false, false, 1234, std::nullopt});
    const fs::path path = scratch("areas.jsonl");
    {
        trace::TraceWriter writer(path);
        writer.gauge(gauge);
        writer.end(0, 0);
    }
    ASSERT_NE(lines_of(path).front().find("\"areas\":["), std::string::npos) << "the gauge record holds no areas";
    const trace::TraceSummary summary = trace::read_trace(path);
    ASSERT_TRUE(summary.gauge);
    ASSERT_EQ(summary.gauge->areas.size(), 2u);
    const trace::ClickArea& whole = summary.gauge->areas[0];
    EXPECT_TRUE(whole.parent);
    EXPECT_TRUE(whole.whole_gauge);
    EXPECT_EQ(whole.tooltip, std::optional<std::string>("Whole \xE9")) << "the module's single bytes come back as they were";
    const trace::ClickArea& child = summary.gauge->areas[1];
    EXPECT_FALSE(child.parent);
    EXPECT_FALSE(child.whole_gauge);
    EXPECT_EQ(child.x, 12);
    EXPECT_EQ(child.y, -3);
    EXPECT_EQ(child.width, 40);
    EXPECT_EQ(child.height, 20);
    EXPECT_EQ(child.help_id, 1234u);
    EXPECT_FALSE(child.tooltip);

    // A gauge record without "areas", as written before they were recorded, reads with none.
    const fs::path older = scratch("without-areas.jsonl");
    std::ofstream(older) << R"({"record":"gauge","format":2,"scenario":"s","module":"M","module_file":"m","gauge":"G","elements":[]})"
                         << "\n";
    const trace::TraceSummary without = trace::read_trace(older);
    ASSERT_TRUE(without.gauge);
    EXPECT_TRUE(without.gauge->areas.empty());

    const fs::path wrong = scratch("bad-area.jsonl");
    std::ofstream(wrong) << R"({"record":"gauge","format":2,"scenario":"s","module":"M","module_file":"m","gauge":"G","areas":[{"kind":"sibling","box":[0,0,1,1],"whole":false,"help":0}],"elements":[]})"
                         << "\n";
    try {
        trace::read_trace(wrong);
        FAIL() << "an area of an unknown kind was read";
    } catch (const trace::TraceError& error) {
        EXPECT_NE(std::string(error.what()).find(":1: expected a click area's kind, parent or child"), std::string::npos)
            << error.what();
    }
}

TEST(TraceFormat, UnknownFormatsAndChangesWithoutAFullRecordAreRefused) {
    const fs::path future = scratch("future.jsonl");
    std::ofstream(future) << R"({"record":"gauge","format":3,"scenario":"s","module":"M","module_file":"m","gauge":"G","elements":[]})"
                          << "\n";
    try {
        trace::read_trace(future);
        FAIL() << "a trace of format 3 was read";
    } catch (const trace::TraceError& error) {
        EXPECT_NE(std::string(error.what()).find(":1: a trace of format 3, which this reader does not know (it reads 1 to 2)"),
                  std::string::npos)
            << error.what();
    }
    const fs::path orphan = scratch("orphan.jsonl");
    {
        std::ofstream out(orphan);
        out << R"({"record":"gauge","format":2,"scenario":"s","module":"M","module_file":"m","gauge":"G","elements":[{"label":"0","kind":0,"resource_id":1,"position":[0,0],"anchor":[0,0],"flags":0}]})"
            << "\n"
            << R"({"record":"update","line":3,"update":1,"changed":[[0,{"flags":1}]]})" << "\n";
    }
    try {
        trace::read_trace(orphan, 1);
        FAIL() << "a change before any full record was read";
    } catch (const trace::TraceError& error) {
        EXPECT_NE(std::string(error.what()).find(":2: a change of element 0 before any full record of it"), std::string::npos)
            << error.what();
    }
}

}  // namespace
