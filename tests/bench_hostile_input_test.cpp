// Hostile traces and scenarios against the bench: picture labels that would write outside
// --out, read-outs claiming billions of characters, positions at the integer limits,
// traces too large or too deep, and scenarios with many pictures. Each is refused quickly
// with one line naming the file and place, exit status 2 from the program, and nothing
// is written outside --out.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_scratch.h"
#include "renderer.h"
#include "scenario.h"
#include "text_face.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::testing::scratch;
using Clock = std::chrono::steady_clock;

// A trace of a gauge with one background and one read-out, then the given lines.
fs::path trace_file(const std::string& name, const std::string& readout_fields, const std::vector<std::string>& lines) {
    const fs::path path = scratch(name);
    std::ofstream out(path);
    out << R"({"record":"gauge","scenario":"s.scenario","module":"KESTREL_TIMER","module_file":"m.gau","gauge":"G",)"
        << R"("elements":[{"label":"0","kind":0,"resource_id":8192,"position":[0,0],"anchor":[0,0],"flags":0},)"
        << R"({"label":"0.0","kind":2,"resource_id":0,"flags":0,)" << readout_fields << "}]}\n";
    for (const std::string& line : lines) out << line << "\n";
    return path;
}

const std::string plain_readout = R"("position":[10,10],"anchor":[0,0],"size":[40,12],"fore_colour":255,"back_colour":0,"char_count":5,"font":"Quartz")";

std::string picture(const std::string& label) {
    return R"({"record":"picture","line":3,"label":")" + label + R"(","updates":0,"elements":[{"flags":0},{"flags":0,"text":"12"}]})";
}

// The message read_trace refuses the file with, or "(read)".
std::string refusal(const fs::path& path) {
    try {
        trace::read_trace(path);
    } catch (const trace::TraceError& error) {
        return error.what();
    }
    return "(read)";
}

TEST(BenchHostileTrace, PictureLabelsThatAreNotPlainFileNamesAreRefused) {
    for (const std::string& label : std::vector<std::string>{"../../escaped", "a/b", ".hidden", "", std::string(65, 'x')}) {
        const fs::path path = trace_file("label.jsonl", plain_readout, {picture(label)});
        const std::string message = refusal(path);
        EXPECT_EQ(message.rfind(path.string() + ":2: expected a picture label", 0), 0u) << label << ": " << message;
    }
    const fs::path twice = trace_file("twice.jsonl", plain_readout, {picture("a"), picture("a")});
    EXPECT_EQ(refusal(twice), twice.string() + ":3: picture label 'a' appears twice");
}

TEST(BenchHostileTrace, OutOfRangeFieldsAreRefusedWhereTheyAre) {
    struct Case {
        std::string fields;
        std::string expected;
    };
    const Case cases[] = {
        {R"("position":[10,10],"anchor":[0,0],"size":[40,12],"fore_colour":255,"back_colour":0,"char_count":4294967295,"font":"Q")",
         "char_count of at most 1024"},
        {R"("position":[2147483647,-2147483648],"anchor":[0,0],"size":[40,12],"fore_colour":255,"back_colour":0,"char_count":5,"font":"Q")",
         "a coordinate within +-1000000"},
        {R"("position":[0,0],"anchor":[0,0],"size":[2147483647,12],"fore_colour":255,"back_colour":0,"char_count":5,"font":"Q")",
         "a coordinate within +-1000000"},
        {R"("position":[0,0],"anchor":[0,0],"size":[40000,12],"fore_colour":255,"back_colour":0,"char_count":5,"font":"Q")",
         "a read-out size within 0 to 16384"},
    };
    for (const Case& each : cases) {
        const fs::path path = trace_file("field.jsonl", each.fields, {});
        const std::string message = refusal(path);
        EXPECT_EQ(message.rfind(path.string() + ":1: ", 0), 0u) << message;
        EXPECT_NE(message.find(each.expected), std::string::npos) << message;
    }
}

TEST(BenchHostileTrace, SizeNestingAndCountsAreBounded) {
    // A file beyond the bound (sparse: nothing is written) is refused before it is read.
    const fs::path huge = scratch("huge.jsonl");
    std::ofstream{huge};
    fs::resize_file(huge, trace::max_trace_bytes + 1);
    EXPECT_NE(refusal(huge).find("is larger than"), std::string::npos) << refusal(huge);
    fs::remove(huge);

    const fs::path deep = trace_file("deep.jsonl", plain_readout, {std::string(100000, '[') + std::string(100000, ']')});
    EXPECT_NE(refusal(deep).find(":2: values nested deeper than"), std::string::npos) << refusal(deep);

    std::vector<std::string> lines;
    for (std::size_t i = 0; i <= trace::max_trace_pictures; ++i) lines.push_back(picture("p" + std::to_string(i)));
    const fs::path many = trace_file("many.jsonl", plain_readout, lines);
    EXPECT_NE(refusal(many).find("more than 1000 pictures"), std::string::npos) << refusal(many);
}

// The renderer checks what it is handed directly too (the fuzzers and the live panel call it).
TEST(BenchHostileTrace, TheRendererRefusesFieldsThatWouldOverflowOrRunLong) {
    picture::PictureSet pictures;
    pictures.add(1, picture::Image(4, 4, {9, 9, 9}));
    picture::TextFace face(picture::default_readout_font);
    picture::Renderer renderer(pictures, face);
    trace::ElementInfo root;
    root.label = "0";
    root.resource_id = 1;
    trace::ElementInfo readout;
    readout.label = "0.0";
    readout.kind = trace::kind_string;
    readout.width = 4;
    readout.height = 4;
    readout.char_count = 5;
    const trace::Frame frame{"f", 1, 0, {{}, {std::nullopt, 0, std::string("1")}}};

    auto refused = [&](const trace::ElementInfo& element) {
        const auto start = Clock::now();
        bool threw = false;
        try {
            renderer.render({"s", "M", "m", "G", {root, element}}, frame);
        } catch (const std::exception&) {
            threw = true;
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        return threw;
    };
    EXPECT_FALSE(refused(readout)) << "the plain read-out draws";
    trace::ElementInfo wide = readout;
    wide.char_count = 0xFFFFFFFFu;
    EXPECT_TRUE(refused(wide));
    trace::ElementInfo far = readout;
    far.position = {INT32_MAX, INT32_MIN};
    EXPECT_TRUE(refused(far));
    trace::ElementInfo anchored = readout;
    anchored.anchor = {INT32_MIN, 0};
    EXPECT_TRUE(refused(anchored));
}

// The program: exit status 2, one line on stderr, nothing outside --out.
std::pair<int, std::vector<std::string>> bench(const std::string& arguments) {
    const fs::path errors = scratch("bench-stderr.txt");
    const std::string command = std::string(KESTREL_BENCH_PROGRAM) + " " + arguments + " >/dev/null 2>'" + errors.string() + "'";
    const int status = std::system(command.c_str());
    std::ifstream in(errors);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, lines};
}

TEST(BenchHostileTrace, RenderRefusesWithStatus2AndWritesNothingOutsideOut) {
    const fs::path box = kestrel::testing::scratch_directory() / "render-box";
    const fs::path out = box / "inside" / "out";
    fs::create_directories(out);
    const fs::path hostile = trace_file("hostile.jsonl", plain_readout, {picture("fine"), picture("../../escaped")});
    const auto [status, lines] = bench("render --out '" + out.string() + "' '" + hostile.string() + "'");
    EXPECT_EQ(status, 2);
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_NE(lines[0].find(hostile.string() + ":3: expected a picture label"), std::string::npos) << lines[0];
    std::vector<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(box))
        if (entry.is_regular_file()) written.push_back(entry.path());
    EXPECT_TRUE(written.empty()) << ::testing::PrintToString(written);

    const fs::path garbage = scratch("garbage.jsonl");
    std::ofstream(garbage) << "this is not a trace\n";
    const auto [garbage_status, garbage_lines] = bench("render --out '" + out.string() + "' '" + garbage.string() + "'");
    EXPECT_EQ(garbage_status, 2) << "a malformed trace is bad input, not a failed scenario";
    ASSERT_EQ(garbage_lines.size(), 1u) << ::testing::PrintToString(garbage_lines);
    EXPECT_NE(garbage_lines[0].find(garbage.string() + ":1: "), std::string::npos) << garbage_lines[0];
}

// Picture labels are checked for repeats in one pass: a long scenario parses at once.
TEST(BenchHostileScenario, ManyPicturesParseQuicklyAndARepeatNamesTheFirstLine) {
    std::string text = "module KESTREL_TIMER\ngauge Digital_Clock\n";
    constexpr int pictures = 50000;
    for (int i = 0; i < pictures; ++i) text += "picture p" + std::to_string(i) + "\n";
    const auto start = Clock::now();
    const scenario::Scenario parsed = scenario::parse_scenario(text, "many.scenario");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(parsed.commands.size(), static_cast<std::size_t>(pictures));
    try {
        scenario::parse_scenario(text + "picture p7\n", "many.scenario");
        FAIL() << "a repeated label was taken";
    } catch (const scenario::ScenarioError& error) {
        EXPECT_STREQ(error.what(), ("many.scenario:" + std::to_string(pictures + 3) +
                                    ": picture label 'p7' is already used on line 10")
                                       .c_str());
    }
}

}  // namespace
