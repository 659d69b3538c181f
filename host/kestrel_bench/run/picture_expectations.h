// Judging `expect picture` after a run: the host recorded the gauge's state with the
// reference and tolerance; the bench draws that state at scale 1 and compares it with the
// reference PNG, beside the scenario. A mismatch fails the scenario and leaves the actual
// picture and a difference picture beside the trace; with --update-pictures the picture
// becomes the reference instead, and the run says which references it wrote.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "renderer.h"
#include "trace.h"

namespace kestrel::bench {

// What one expectation found: "file:line: expect picture ...: what was there", and the line.
struct PictureFinding {
    int line = 0;
    std::string message;
};

// One scenario's picture expectations, judged.
struct PictureVerdicts {
    int passed = 0;
    std::vector<PictureFinding> failures;
    std::vector<PictureFinding> bad_inputs;  // a reference that is no picture the bench reads
    std::vector<std::string> notes;          // with --update-pictures: the references written
};

// Where one expectation's actual and difference pictures go: beside the trace, named by
// the trace and the scenario line, e.g. out/traces/clock_date-line12-actual.png.
std::filesystem::path actual_picture_file(const std::filesystem::path& trace, int line);
std::filesystem::path difference_picture_file(const std::filesystem::path& trace, int line);

// A picture expectation with what it is judged on: the scenario (references lie relative
// to its folder), the file the actual and difference pictures go beside, and what the
// picture shows ("gauge", "window") for the messages.
struct PictureToJudge {
    std::filesystem::path scenario;
    std::filesystem::path beside;
    int line = 0;
    std::string command;
    std::string reference;
    uint64_t tolerance = 0;
    const char* subject = "gauge";
};

class PictureJudge {
public:
    explicit PictureJudge(bool update_references) : update_(update_references) {}

    // scenario: the file as the user named it (references lie relative to its folder);
    // trace: the trace file the pictures go beside.
    PictureVerdicts judge(const std::filesystem::path& scenario, const std::filesystem::path& trace,
                          const trace::TraceSummary& summary, picture::Renderer& renderer);

    // One expectation on a picture drawn at scale 1.
    void judge_picture(const PictureToJudge& expect, const picture::Image& actual, PictureVerdicts& verdicts);

    bool updating() const { return update_; }
    // With --update-pictures, the closing count: "references: 2 written (1 new, 1 changed), 4 unchanged".
    std::string update_summary() const;

private:
    bool update_;
    int created_ = 0;
    int changed_ = 0;
    int unchanged_ = 0;
    // References this run wrote, and the line that wrote each: two lines that draw two
    // different pictures into one reference cannot both be right.
    std::map<std::filesystem::path, std::pair<std::string, picture::Image>> written_;
};

}  // namespace kestrel::bench
