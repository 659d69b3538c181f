// A panel scenario, step by step: the panel file and window are read and every element
// and click is checked against the running window before anything runs (a fault there is
// bad input on its line), then each command goes to the window's session, each
// expectation is compared with what its gauge shows, and each picture is the whole window.
#include "panel_scenario.h"

#include <chrono>
#include <type_traits>
#include <variant>

#include "expectation_check.h"
#include "module_lookup.h"
#include "panel_reader.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace kestrel::scenario;
using Command = scenario::Command;

const char* step_name(const Action& action) {
    if (std::holds_alternative<RunUpdates>(action)) return "update";
    if (std::holds_alternative<Click>(action)) return "click";
    if (std::holds_alternative<CallService>(action)) return "service";
    if (std::holds_alternative<SendKey>(action)) return "key";
    return "set";
}

// The element a command names, if it names one.
const std::string* element_named(const Action& action) {
    return std::visit(
        [](const auto& step) -> const std::string* {
            if constexpr (requires { step.element; }) return &step.element;
            else return nullptr;
        },
        action);
}

class PanelScenarioRunner {
public:
    PanelScenarioRunner(const Scenario& scenario, const PanelScenarioRun& run, PictureJudge& judge)
        : scenario_(scenario), run_(run), judge_(judge), file_(display_path(run.scenario)) {}

    PanelScenarioOutcome play() {
        const Clock::time_point start = Clock::now();
        try {
            const panel::Window window = chosen_window();
            session_.emplace(std::vector<panel::Window>{window}, run_.session);
            check_commands();
            for (const Command& command : scenario_.commands)
                if (!run_command(command)) break;
        } catch (const ScenarioError& error) {
            result_.outcome.verdict = Verdict::bad_scenario;
            result_.outcome.messages.push_back(error.what());
        }
        for (const PictureFinding& finding : pictures_.bad_inputs) result_.outcome.messages.push_back(finding.message);
        for (const PictureFinding& finding : pictures_.failures) result_.outcome.messages.push_back(finding.message);
        if (!pictures_.bad_inputs.empty()) result_.outcome.verdict = Verdict::bad_scenario;
        else if (!pictures_.failures.empty() && result_.outcome.verdict == Verdict::passed)
            result_.outcome.verdict = Verdict::failed;
        result_.notes = pictures_.notes;
        result_.outcome.elapsed = Clock::now() - start;
        return std::move(result_);
    }

private:
    [[noreturn]] void fail(int line, const std::string& what) const { throw ScenarioError(file_, line, what); }

    panel::Window chosen_window() const {
        const scenario::PanelSource& source = *scenario_.panel;
        const fs::path file = panel_file_of(scenario_, run_.scenario);
        panel::PanelFile panel;
        try {
            panel = panel::read_panel_file(file);
        } catch (const panel::PanelError& error) {
            fail(source.line, std::string("the panel file: ") + error.what());
        }
        for (const panel::Window& window : panel.windows)
            if (window.number == source.window) return window;
        fail(source.window_line != 0 ? source.window_line : source.line,
             display_path(file) + " has no window " + panel::two_digits(source.window) + " (it has " +
                 panel::window_list(panel.windows) + ")");
    }

    // Every element named must be one the window runs, and every click must land on a
    // running gauge: found before anything runs, as a scenario error with its line.
    void check_commands() {
        for (const Command& command : scenario_.commands) {
            if (const std::string* label = element_named(command.action)) element(command, *label);
            if (const auto* click = std::get_if<Click>(&command.action))
                if (const std::optional<std::string> refused = session_->click_refusal(0, click->x, click->y))
                    fail(command.line, *refused);
        }
    }

    panel::ElementRef element(const Command& command, const std::string& label) const {
        const std::optional<PanelElement> named = parse_panel_element(label);
        if (!named) fail(command.line, "expected an element as MODULE!GAUGE:[N], found '" + label + "'");
        try {
            return session_->element(*named);
        } catch (const panel::StepRefused& refused) {
            fail(command.line, refused.what());
        }
    }

    // Plays one command; false once the run cannot go on.
    bool run_command(const Command& command) {
        const std::string where = file_ + ":" + std::to_string(command.line) + ": ";
        std::optional<panel::StepResult> step;
        try {
            step = session_->apply(command.action);
        } catch (const panel::StepRefused& refused) {
            result_.outcome.verdict = Verdict::host_error;
            result_.outcome.messages.push_back(where + command.text + ": " + refused.what());
            return false;
        }
        if (step) {
            for (const panel::PanelKeyEvent& sent : step->sent) {
                sent_since_expect_keys_.push_back(sent.event);
                result_.key_log.push_back(
                    {command.line, session_->updates(), sent.source, step_name(command.action), sent.event});
            }
            if (const auto* click = std::get_if<Click>(&command.action); click && step->gauge && !step->area &&
                                                                          step->stopped.empty()) {
                const panel::PanelGauge& gauge = session_->gauges()[*step->gauge];
                const panel::GaugePoint point = panel::window_to_gauge(gauge, click->x, click->y);
                result_.outcome.warnings.push_back(where + "warning: the click at (" + std::to_string(click->x) + ", " +
                                                   std::to_string(click->y) + "), pixel (" + std::to_string(point.x) +
                                                   ", " + std::to_string(point.y) + ") of " + gauge.entry.module + "!" +
                                                   gauge.entry.gauge + ", hit no click area");
            }
            if (!step->stopped.empty()) {
                for (const std::string& stopped : step->stopped) {
                    const bool hung = stopped.find("no answer within") != std::string::npos;
                    result_.outcome.verdict = hung ? Verdict::hung : Verdict::crashed;
                    result_.outcome.messages.push_back(where + command.text + ": " + stopped);
                }
                return false;
            }
            return true;
        }
        std::visit([&](const auto& look) { check(command, look); }, command.action);
        return true;
    }

    void report(const Command& command, const Finding& finding) {
        ++result_.expectations;
        if (finding.passed) return;
        if (result_.outcome.verdict == Verdict::passed) result_.outcome.verdict = Verdict::failed;
        result_.outcome.messages.push_back(file_ + ":" + std::to_string(command.line) + ": failed: " + command.text + ": " +
                                           finding.found);
    }

    void check(const Command&, const TakePicture& picture) {
        result_.pictures.emplace_back(picture.label, session_->draw(0, run_.scale, false));
    }

    void check(const Command& command, const ExpectKeys& expect) {
        report(command, check_keys(expect, sent_since_expect_keys_));
        sent_since_expect_keys_.clear();
    }

    void check(const Command& command, const ExpectPicture& expect) {
        ++result_.expectations;
        judge_.judge_picture({run_.scenario, run_.beside, command.line, command.text, expect.reference, expect.tolerance,
                              "window"},
                             session_->draw(0, 1, false), pictures_);
    }

    template <typename Expect>
        requires requires(Expect expect) { expect.element; }
    void check(const Command& command, const Expect& expect) {
        const panel::ElementRef ref = element(command, expect.element);
        const std::optional<Finding> finding =
            check_element(command.action, session_->state(ref), session_->updates() == 0);
        report(command, *finding);
    }

    // Steps never reach here: the session applied them.
    template <typename Other>
    void check(const Command&, const Other&) {}

    const Scenario& scenario_;
    const PanelScenarioRun& run_;
    PictureJudge& judge_;
    const std::string file_;
    std::optional<panel::PanelSession> session_;
    std::vector<KeyEvent> sent_since_expect_keys_;
    PictureVerdicts pictures_;
    PanelScenarioOutcome result_;
};

}  // namespace

fs::path panel_file_of(const Scenario& scenario, const fs::path& scenario_file) {
    const fs::path named = scenario.panel->file;
    return named.is_absolute() ? named : scenario_file.parent_path() / named;
}

PanelScenarioOutcome run_panel_scenario(const Scenario& scenario, const PanelScenarioRun& run, PictureJudge& judge) {
    return PanelScenarioRunner(scenario, run, judge).play();
}

}  // namespace kestrel::bench
