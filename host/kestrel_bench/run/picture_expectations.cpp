// Each picture expectation of a run: drawn, compared, and either passed, failed with the
// pictures that show why, refused as bad input, or (with --update-pictures) written.
#include "picture_expectations.h"

#include <system_error>

#include "module_lookup.h"
#include "picture_diff.h"
#include "png.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

fs::path beside_trace(const fs::path& trace, int line, const char* what) {
    return trace.parent_path() / (trace.stem().string() + "-line" + std::to_string(line) + "-" + what + ".png");
}

std::string size_of(const picture::Image& image) {
    return std::to_string(image.width()) + " by " + std::to_string(image.height()) + " pixels";
}

bool same_picture(const picture::Image& a, const picture::Image& b) {
    const picture::PictureDifference difference = picture::compare_pictures(a, b);
    return difference.same_size && difference.pixels == 0;
}

std::string counted(int count, const char* what) { return std::to_string(count) + " " + what; }

}  // namespace

fs::path actual_picture_file(const fs::path& trace, int line) { return beside_trace(trace, line, "actual"); }
fs::path difference_picture_file(const fs::path& trace, int line) { return beside_trace(trace, line, "diff"); }

PictureVerdicts PictureJudge::judge(const fs::path& scenario, const fs::path& trace,
                                    const trace::TraceSummary& summary, picture::Renderer& renderer) {
    PictureVerdicts verdicts;
    if (!summary.gauge) return verdicts;
    for (const trace::PictureExpectation& expect : summary.picture_expectations)
        judge_picture({scenario, trace, expect.line, expect.command, expect.reference, expect.tolerance, "gauge"},
                      renderer.render(*summary.gauge, expect.frame, {1}), verdicts);
    return verdicts;
}

void PictureJudge::judge_picture(const PictureToJudge& expect, const picture::Image& actual, PictureVerdicts& verdicts) {
    const std::string file = display_path(expect.scenario);
    const std::string subject = std::string("the ") + expect.subject + "'s picture";
    const std::string where = file + ":" + std::to_string(expect.line) + ": " + expect.command + ": ";
    const fs::path reference = expect.scenario.parent_path() / expect.reference;
    const std::string shown = display_path(reference);
    const fs::path actual_file = actual_picture_file(expect.beside, expect.line);
    const fs::path difference_file = difference_picture_file(expect.beside, expect.line);
    std::error_code ignored;
    fs::remove(actual_file, ignored);  // a pass must not leave an earlier failure's pictures
    fs::remove(difference_file, ignored);

    std::error_code status_error;
    const bool exists = fs::exists(fs::status(reference, status_error));
    const std::string unreadable = exists ? read_problem(reference, false) : "";
    if (!unreadable.empty()) {
        verdicts.bad_inputs.push_back({expect.line, where + unreadable});
        return;
    }
    if (update_) {
        const fs::path key = fs::weakly_canonical(reference, ignored);
        if (const auto earlier = written_.find(key); earlier != written_.end()) {
            if (same_picture(earlier->second.second, actual)) {
                ++verdicts.passed;
            } else {
                verdicts.failures.push_back({expect.line, where + "line " + earlier->second.first +
                                                              " wrote another picture into " + shown +
                                                              " in this run; one reference holds one picture"});
            }
            return;
        }
        std::string change = "new";
        if (exists) {
            try {
                const picture::Image old = picture::read_png(reference);
                const picture::PictureDifference difference = picture::compare_pictures(old, actual);
                if (difference.same_size && difference.pixels == 0) {
                    ++unchanged_;
                    ++verdicts.passed;
                    written_.emplace(key, std::make_pair(file + ":" + std::to_string(expect.line), actual));
                    return;
                }
                change = "changed: " + (difference.same_size ? difference.describe()
                                                             : "was " + size_of(old) + ", now " + size_of(actual));
            } catch (const picture::ImageError& error) {
                change = "changed: the old one could not be read (" + std::string(error.what()) + ")";
            }
        }
        fs::create_directories(reference.parent_path());
        picture::write_png(actual, reference);
        ++(exists ? changed_ : created_);
        ++verdicts.passed;
        verdicts.notes.push_back(where + "wrote the reference " + shown + " (" + change + ")");
        written_.emplace(key, std::make_pair(file + ":" + std::to_string(expect.line), actual));
        return;
    }

    if (!exists) {
        picture::write_png(actual, actual_file);
        verdicts.failures.push_back({expect.line, where + "there is no reference picture " + shown +
                                                      "; run with --update-pictures to write it (" + subject +
                                                      " is in " + display_path(actual_file) + ")"});
        return;
    }
    picture::Image expected;
    try {
        expected = picture::read_png(reference);
    } catch (const picture::ImageError& error) {
        verdicts.bad_inputs.push_back({expect.line, where + error.what()});
        return;
    }
    const picture::PictureDifference difference = picture::compare_pictures(expected, actual);
    if (difference.same_size && difference.pixels <= expect.tolerance) {
        ++verdicts.passed;
        return;
    }
    picture::write_png(actual, actual_file);
    picture::write_png(picture::difference_picture(expected, actual), difference_file);
    const std::string found = difference.same_size
                                  ? difference.describe() + " (tolerance " + std::to_string(expect.tolerance) + ")"
                                  : subject + " is " + size_of(actual) + ", the reference " + size_of(expected);
    verdicts.failures.push_back({expect.line, where + found + "; " + subject + ": " + display_path(actual_file) +
                                                  ", the difference: " + display_path(difference_file)});
}

std::string PictureJudge::update_summary() const {
    return "references: " + counted(created_ + changed_, "written") + " (" + counted(created_, "new") + ", " +
           counted(changed_, "changed") + "), " + counted(unchanged_, "unchanged");
}

}  // namespace kestrel::bench
