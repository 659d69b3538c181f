// `expect picture` through the program on the native twin: a reference that matches
// passes; a one-pixel change fails with the count, the bounding box, and a difference
// picture marked at that pixel; a change within the tolerance passes; a missing reference
// fails with the hint, and --update-pictures writes it and says so; a reference that is no
// picture is bad input. References lie relative to the scenario.
#include <gtest/gtest.h>

#include <fstream>

#include "bench_program.h"
#include "picture_diff.h"
#include "png.h"

namespace {

namespace fs = std::filesystem;
using kestrel::picture::Image;
using kestrel::picture::read_png;
using kestrel::picture::Rgb;
using kestrel::testing::ProgramResult;
using kestrel::testing::run_shell;
using kestrel::testing::scratch;

// The clock at 7:00, a picture of it, and the expectation on line 7.
const std::string clock_at_seven = "module KESTREL_TIMER\ngauge Digital_Clock\nset 3 7\nset 4 0\nupdate\npicture seven\n";

class BenchPictureExpectations : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder / "sub");
    }
    void write_scenario(const std::string& expectations) {
        std::ofstream(folder / "sub" / "clock.scenario") << clock_at_seven << expectations;
    }
    ProgramResult bench(const std::string& arguments) {
        return run_shell("cd '" + folder.string() + "' && '" + KESTREL_BENCH_PROGRAM + "' run --native --out out " +
                         arguments + " sub/clock.scenario");
    }
    // The gauge as the run drew its picture, at scale 1.
    Image frame() { return read_png(folder / "out" / "frames" / "clock" / "001-seven.png"); }
    fs::path reference() const { return folder / "sub" / "pictures" / "clock-seven.png"; }
    fs::path actual() const { return folder / "out" / "traces" / "clock-line7-actual.png"; }
    fs::path diff() const { return folder / "out" / "traces" / "clock-line7-diff.png"; }
    // The reference written, then changed at the given pixels.
    void reference_changed_at(const std::vector<std::pair<int, int>>& pixels) {
        write_scenario("expect picture pictures/clock-seven.png\n");
        const auto written = bench("--update-pictures");
        ASSERT_EQ(written.status, 0) << written.out << written.err;
        Image changed = read_png(reference());
        for (const auto& [x, y] : pixels) {
            const Rgb was = changed.at(x, y);
            changed.set(x, y, {static_cast<uint8_t>(was.red ^ 0x80), was.green, was.blue});
        }
        kestrel::picture::write_png(changed, reference());
    }

    fs::path folder;
};

TEST_F(BenchPictureExpectations, AMissingReferenceFailsWithTheHintAndUpdatePicturesWritesIt) {
    write_scenario("expect picture pictures/clock-seven.png\n");
    const auto missing = bench("");
    EXPECT_EQ(missing.status, 1) << missing.out << missing.err;
    EXPECT_NE(missing.out.find("FAIL         clock (1 expectation, 1 picture, "), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("    sub/clock.scenario:7: expect picture pictures/clock-seven.png: there is no reference "
                               "picture sub/pictures/clock-seven.png; run with --update-pictures to write it (the "
                               "gauge's picture is in out/traces/clock-line7-actual.png)\n"),
              std::string::npos)
        << missing.out;
    EXPECT_FALSE(fs::exists(reference()));
    ASSERT_TRUE(fs::exists(actual()));
    EXPECT_EQ(read_png(actual()).pixels(), frame().pixels()) << "the actual picture is the gauge at scale 1";

    const auto updated = bench("--update-pictures");
    EXPECT_EQ(updated.status, 0) << updated.out << updated.err;
    EXPECT_NE(updated.out.find("PASS         clock (1 expectation, 1 picture, "), std::string::npos) << updated.out;
    EXPECT_NE(updated.out.find("    sub/clock.scenario:7: expect picture pictures/clock-seven.png: wrote the reference "
                               "sub/pictures/clock-seven.png (new)\n"),
              std::string::npos)
        << updated.out;
    EXPECT_NE(updated.out.find("\nreferences: 1 written (1 new, 0 changed), 0 unchanged\n1 passed, 0 failed\n"),
              std::string::npos)
        << updated.out;
    ASSERT_TRUE(fs::exists(reference()));
    const Image written = read_png(reference());
    EXPECT_EQ(written.pixels(), frame().pixels());
    EXPECT_GT(written.width(), 50);

    const auto again = bench("--update-pictures");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out.find("wrote the reference"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("\nreferences: 0 written (0 new, 0 changed), 1 unchanged\n"), std::string::npos) << again.out;

    const auto judged = bench("");
    EXPECT_EQ(judged.status, 0) << judged.out << judged.err;
    EXPECT_NE(judged.out.find("PASS         clock (1 expectation, 1 picture, "), std::string::npos) << judged.out;
    EXPECT_EQ(judged.out.find("references:"), std::string::npos) << "only --update-pictures counts references";
    EXPECT_FALSE(fs::exists(actual())) << "a pass leaves no picture of an earlier failure";
}

TEST_F(BenchPictureExpectations, AOnePixelChangeFailsWithTheCountTheBoxAndADiffMarkedThere) {
    reference_changed_at({{31, 17}});
    const auto result = bench("");
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("    sub/clock.scenario:7: expect picture pictures/clock-seven.png: 1 pixel differs, "
                              "within (31, 17) to (31, 17) (tolerance 0); the gauge's picture: "
                              "out/traces/clock-line7-actual.png, the difference: out/traces/clock-line7-diff.png\n"),
              std::string::npos)
        << result.out;
    ASSERT_TRUE(fs::exists(diff()));
    const Image difference = read_png(diff());
    const Image gauge = frame();
    ASSERT_EQ(difference.width(), gauge.width());
    ASSERT_EQ(difference.height(), gauge.height());
    EXPECT_EQ(difference.at(31, 17), kestrel::picture::difference_colour);
    int marked = 0;
    for (const Rgb& pixel : difference.pixels()) marked += pixel == kestrel::picture::difference_colour;
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(read_png(actual()).pixels(), gauge.pixels());

    // After the changed pixel's fix, the same command passes again.
    const auto restored = bench("--update-pictures");
    EXPECT_NE(restored.out.find("wrote the reference sub/pictures/clock-seven.png (changed: 1 pixel differs, within "
                                "(31, 17) to (31, 17))"),
              std::string::npos)
        << restored.out;
    EXPECT_NE(restored.out.find("references: 1 written (0 new, 1 changed), 0 unchanged"), std::string::npos) << restored.out;
    EXPECT_EQ(bench("").status, 0);
    EXPECT_FALSE(fs::exists(diff()));
}

TEST_F(BenchPictureExpectations, AChangeWithinTheToleranceStillPasses) {
    reference_changed_at({{2, 3}, {40, 20}});
    write_scenario("expect picture pictures/clock-seven.png 2\n");
    const auto within = bench("");
    EXPECT_EQ(within.status, 0) << within.out << within.err;
    EXPECT_NE(within.out.find("PASS         clock (1 expectation, "), std::string::npos) << within.out;
    EXPECT_FALSE(fs::exists(diff()));

    write_scenario("expect picture pictures/clock-seven.png 1\n");
    const auto beyond = bench("");
    EXPECT_EQ(beyond.status, 1) << beyond.out;
    EXPECT_NE(beyond.out.find(": 2 pixels differ, within (2, 3) to (40, 20) (tolerance 1); "), std::string::npos)
        << beyond.out;
}

TEST_F(BenchPictureExpectations, AReferenceOfAnotherSizeFailsAndOneThatIsNoPictureIsBadInput) {
    write_scenario("expect picture pictures/clock-seven.png 100000\n");
    fs::create_directories(reference().parent_path());
    kestrel::picture::write_png(Image(10, 12, Rgb{1, 2, 3}), reference());
    const auto other_size = bench("");
    EXPECT_EQ(other_size.status, 1) << other_size.out;
    EXPECT_NE(other_size.out.find(": the gauge's picture is "), std::string::npos) << other_size.out;
    EXPECT_NE(other_size.out.find(" pixels, the reference 10 by 12 pixels; the gauge's picture: "), std::string::npos)
        << other_size.out;

    std::ofstream(reference(), std::ios::trunc) << "not a picture\n";
    const auto text = bench("");
    EXPECT_EQ(text.status, 2) << text.out;
    EXPECT_NE(text.out.find("BAD SCENARIO clock"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("    sub/clock.scenario:7: expect picture pictures/clock-seven.png 100000: "
                            "sub/pictures/clock-seven.png: not a PNG file"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\n0 passed, 0 failed, 1 bad scenario\n"), std::string::npos) << text.out;

    fs::remove(reference());
    fs::create_directories(reference());
    const auto folder_instead = bench("--update-pictures");
    EXPECT_EQ(folder_instead.status, 2) << folder_instead.out;
    EXPECT_NE(folder_instead.out.find("sub/pictures/clock-seven.png: cannot read: Is a directory"), std::string::npos)
        << folder_instead.out;
}

TEST_F(BenchPictureExpectations, TwoLinesCannotWriteTwoPicturesIntoOneReference) {
    write_scenario("expect picture pictures/clock-seven.png\nset 3 9\nupdate\nexpect picture pictures/clock-seven.png\n");
    const auto result = bench("--update-pictures");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("    sub/clock.scenario:10: expect picture pictures/clock-seven.png: line "
                              "sub/clock.scenario:7 wrote another picture into sub/pictures/clock-seven.png in this "
                              "run; one reference holds one picture\n"),
              std::string::npos)
        << result.out;
}

}  // namespace
