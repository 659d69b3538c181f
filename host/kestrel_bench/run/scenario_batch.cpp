// `run` and `demo`: every scenario is read first (a malformed one stops the bench before
// anything runs), then each runs in its own host process on the host chosen once for all,
// is judged (its picture expectations by the bench itself, after the host is done), has
// its pictures drawn and its key events logged, and gets a verdict line; with --junit the
// same verdicts go into a JUnit report.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <system_error>

#include "bench_commands.h"
#include "frame_writer.h"
#include "host_launcher.h"
#include "input_files.h"
#include "junit_report.h"
#include "module_lookup.h"
#include "output_names.h"
#include "panel_scenario.h"
#include "picture_expectations.h"
#include "run_status.h"
#include "scenario.h"
#include "scenario_process.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The closing line, printed whatever happened before it.
void print_summary(int passed, int failed, int bad) {
    std::printf("%d passed, %d failed", passed, failed);
    if (bad > 0) std::printf(", %s", counted(static_cast<std::size_t>(bad), "bad scenario", "bad scenarios").c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void write_key_log(std::ofstream& log, const std::string& name, const trace::TraceSummary& summary) {
    if (summary.key_log.empty()) {
        log << name << ": no key events\n";
        return;
    }
    for (const trace::KeyLogEntry& entry : summary.key_log)
        log << name << ':' << entry.line << "  " << entry.updates << "  " << entry.source << "  " << entry.during << "  "
            << scenario::format_key_event({entry.event.id, entry.event.value}) << '\n';
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A JUnit case from a verdict: failures are the expectations that failed, every other
// verdict but a pass is an error of its kind.
// A case's class: MODULE.GAUGE, or panel.WINDOW for a panel scenario.
std::string case_class(const scenario::Scenario& scenario) {
    if (scenario.panel) return "panel.window" + std::to_string(scenario.panel->window);
    return scenario.module + "." + scenario.gauge;
}

JunitCase junit_case(const std::string& name, const scenario::Scenario& scenario, const ScenarioOutcome& outcome) {
    JunitCase each;
    each.name = name;
    each.classname = case_class(scenario);
    each.file = scenario.file;
    each.messages = outcome.messages;
    each.warnings = outcome.warnings;
    switch (outcome.verdict) {
        case Verdict::passed: each.outcome = JunitCase::Outcome::passed; break;
        case Verdict::failed: each.outcome = JunitCase::Outcome::failed; break;
        case Verdict::bad_scenario: each.outcome = JunitCase::Outcome::error, each.error_type = "bad input"; break;
        case Verdict::host_error: each.outcome = JunitCase::Outcome::error, each.error_type = "host error"; break;
        case Verdict::crashed: each.outcome = JunitCase::Outcome::error, each.error_type = "crash"; break;
        case Verdict::hung: each.outcome = JunitCase::Outcome::error, each.error_type = "hang"; break;
    }
    return each;
}

// Bad input stopped the run before anything ran: each input that was at fault is an error,
// each scenario that was read but not run is skipped.
JunitSuite unrun_suite(const std::string& suite_name, const std::vector<std::pair<std::string, std::string>>& faults,
                       const std::vector<scenario::Scenario>& scenarios) {
    JunitSuite suite{suite_name, "", junit_timestamp_now(), 0, {}};
    for (const auto& [input, message] : faults) {
        JunitCase each;
        each.name = input;
        each.classname = "unread";
        each.file = input;
        each.outcome = JunitCase::Outcome::error;
        each.error_type = "bad input";
        each.messages = {message};
        suite.cases.push_back(std::move(each));
    }
    const std::string why = "not run: " + counted(faults.size(), "bad input", "bad inputs") + " stopped the run before anything ran";
    for (const scenario::Scenario& scenario : scenarios) {
        JunitCase each;
        each.name = fs::path(scenario.file).replace_extension().generic_string();
        each.classname = case_class(scenario);
        each.file = scenario.file;
        each.outcome = JunitCase::Outcome::skipped;
        each.messages = {why};
        suite.cases.push_back(std::move(each));
    }
    return suite;
}

// The scenario line a message names, "FILE:LINE: ...", or none.
std::optional<int> line_named(const std::string& message, const std::string& file) {
    if (message.rfind(file + ":", 0) != 0) return std::nullopt;
    int line = 0;
    const char* at = message.c_str() + file.size() + 1;
    const auto [end, error] = std::from_chars(at, message.c_str() + message.size(), line);
    if (error != std::errc() || end == at || *end != ':') return std::nullopt;
    return line;
}

// The picture expectations' verdicts folded into the run's, each message among the
// host's in the order of the scenario's lines: bad input outweighs a failure, a failure
// outweighs a pass.
void add_picture_verdicts(ScenarioOutcome& outcome, const PictureVerdicts& pictures, const std::string& file) {
    for (const auto* findings : {&pictures.bad_inputs, &pictures.failures}) {
        for (const PictureFinding& finding : *findings) {
            auto later = std::find_if(outcome.messages.begin(), outcome.messages.end(), [&](const std::string& message) {
                const std::optional<int> line = line_named(message, file);
                return line && *line > finding.line;
            });
            outcome.messages.insert(later, finding.message);
        }
    }
    if (!pictures.bad_inputs.empty()) outcome.verdict = Verdict::bad_scenario;
    else if (!pictures.failures.empty() && outcome.verdict == Verdict::passed) outcome.verdict = Verdict::failed;
}

int run_scenarios(const Options& options, const Locations& locations, const std::vector<std::string>& inputs) {
    const Clock::time_point run_start = Clock::now();
    const std::string suite_name = options.command == Command::demo ? "kestrel-bench demo" : "kestrel-bench run";
    std::vector<std::string> problems;
    std::vector<std::pair<std::string, std::string>> faults;  // input, message: for the JUnit report
    const std::vector<fs::path> files = scenario_files(inputs, problems);
    for (const std::string& problem : problems) faults.emplace_back(problem.substr(0, problem.find(": ")), problem);
    std::vector<scenario::Scenario> scenarios;
    for (const fs::path& file : files) {
        try {
            scenarios.push_back(scenario::read_scenario(file));
            scenarios.back().file = display_path(file);
        } catch (const scenario::ScenarioError& error) {
            problems.push_back(error.what());
            faults.emplace_back(display_path(file), error.what());
        }
    }
    std::vector<std::string> names;
    if (problems.empty()) {
        try {
            names = output_names(files);
        } catch (const UsageError& error) {
            problems.push_back(error.what());
            faults.emplace_back("the run's scenarios", error.what());
        }
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems) std::cerr << problem << '\n';
        if (options.junit) write_junit(unrun_suite(suite_name, faults, scenarios), *options.junit);
        std::printf("0 passed, 0 failed: nothing ran (%s above)\n", counted(problems.size(), "bad input", "bad inputs").c_str());
        return run_bad_scenario;
    }

    for (const char* sub : {"traces", "frames", "logs"}) fs::create_directories(options.out / sub);
    const Host host = choose_host(options, locations, std::cout);
    std::printf("host: %s\n", host.description().c_str());
    const std::vector<fs::path> folders = module_folders(options, locations, host.kind);
    const std::vector<fs::path> picture_folders = gau_folders(options, locations);
    FrameWriter frames(picture_folders, options.out, options.scale_or_default());
    PictureJudge judge(options.update_pictures);
    JunitSuite suite{suite_name, host.description(), junit_timestamp_now(), 0, {}};

    int passed = 0;
    int failed = 0;
    int bad = 0;
    std::ofstream key_log(options.out / "key-events.log");
    key_log << "# scenario:line  updates so far  sent by  during  event=value\n";
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        const Clock::time_point start = Clock::now();
        const scenario::Scenario& scenario = scenarios[i];
        const std::string& name = names[i];
        ScenarioOutcome outcome;
        int pictures = 0;
        std::size_t expectations = 0;
        PictureVerdicts picture_verdicts;
        fs::path trace_file = options.out / "traces" / (name + ".jsonl");
        const fs::path log_file = options.out / "logs" / name;
        if (scenario.panel) {
            // A panel's modules each run in a host of their own, which answer the bench
            // directly: no trace, the hosts' logs under logs/NAME/.
            PanelScenarioRun panel_run;
            panel_run.scenario = files[i];
            panel_run.session = panel::session_settings(options, locations, host);
            panel_run.session.work = log_file;
            panel_run.beside = trace_file;
            panel_run.scale = options.scale_or_default();
            PanelScenarioOutcome played = run_panel_scenario(scenario, panel_run, judge);
            outcome = std::move(played.outcome);
            expectations = played.expectations;
            picture_verdicts.notes = std::move(played.notes);
            pictures = static_cast<int>(played.pictures.size());
            if (pictures > 0) frames.write(name, std::move(played.pictures));
            trace::TraceSummary summary;
            summary.key_log = std::move(played.key_log);
            write_key_log(key_log, name, summary);
            trace_file.clear();
        } else {
            ScenarioRun run;
            run.scenario = files[i];
            run.host = host;
            run.modules = module_folder_for(folders, scenario.module, host.module_extension());
            if (host.module_extension() != std::string(".gau")) {
                // The twin holds no pictures: the host sizes the gauge from the .gau beside it,
                // where there is one (else it says that clicks go unchecked).
                run.pictures = folder_holding(picture_folders, scenario.module, ".gau").value_or(fs::path());
            }
            run.trace = trace_file;
            run.log = log_file.string() + ".log";
            run.timeout = std::chrono::duration<double>(options.timeout_or_default());
            fs::create_directories(run.trace.parent_path());
            fs::create_directories(run.log.parent_path());
            outcome = run_scenario(run);
            expectations = outcome.trace ? outcome.trace->expectations.size() : 0;
            const bool drawn = outcome.trace && outcome.trace->gauge &&
                               (!outcome.trace->pictures.empty() || !outcome.trace->picture_expectations.empty());
            if (drawn) {
                // Picture expectations are judged only on a run that ended as the host meant
                // it to: after a crash or a hang the state recorded last is not to be trusted.
                const bool judged = outcome.verdict == Verdict::passed || outcome.verdict == Verdict::failed;
                try {
                    picture::Renderer renderer = frames.renderer(outcome.trace->gauge->module);
                    pictures = frames.draw(name, *outcome.trace, renderer);
                    if (judged) {
                        picture_verdicts = judge.judge(run.scenario, run.trace, *outcome.trace, renderer);
                        expectations += outcome.trace->picture_expectations.size();
                    }
                    for (const picture::RenderWarning& warning : renderer.warnings())
                        outcome.warnings.push_back(scenario.file + ":" + std::to_string(warning.line) + ": warning: " +
                                                   warning.message);
                } catch (const std::exception& error) {
                    if (outcome.verdict == Verdict::passed) outcome.verdict = Verdict::failed;
                    outcome.messages.push_back(scenario.file + ": pictures: " + error.what());
                }
                add_picture_verdicts(outcome, picture_verdicts, scenario.file);
            }
            if (outcome.trace && outcome.trace->gauge) write_key_log(key_log, name, *outcome.trace);
        }
        if (outcome.verdict == Verdict::passed) ++passed;
        else if (is_bad_input(outcome.verdict)) ++bad;
        else ++failed;
        std::printf("%-12s %s (%s, %s, %.2f s)\n", verdict_name(outcome.verdict), name.c_str(),
                    counted(expectations, "expectation", "expectations").c_str(),
                    counted(static_cast<std::size_t>(pictures), "picture", "pictures").c_str(), outcome.elapsed.count());
        for (const std::string& message : outcome.messages) std::printf("    %s\n", message.c_str());
        for (const std::string& note : picture_verdicts.notes) std::printf("    %s\n", note.c_str());
        for (const std::string& warning : outcome.warnings) std::printf("    %s\n", warning.c_str());
        std::fflush(stdout);

        JunitCase each = junit_case(name, scenario, outcome);
        each.seconds = seconds_since(start);
        each.output = {trace_file.empty() ? "trace: none (a panel scenario)" : "trace: " + display_path(trace_file),
                       "host output: " + display_path(scenario.panel ? log_file : fs::path(log_file.string() + ".log"))};
        if (pictures > 0) each.output.push_back("pictures: " + display_path(options.out / "frames" / name));
        each.output.insert(each.output.end(), picture_verdicts.notes.begin(), picture_verdicts.notes.end());
        suite.cases.push_back(std::move(each));
    }
    const bool sheet = frames.write_contact_sheet(options.out / "contact-sheet.png");
    std::printf("traces:        %s\n", display_path(options.out / "traces").c_str());
    std::printf("pictures:      %s\n", display_path(options.out / "frames").c_str());
    if (sheet) std::printf("contact sheet: %s\n", display_path(options.out / "contact-sheet.png").c_str());
    std::printf("key events:    %s\n", display_path(options.out / "key-events.log").c_str());
    std::printf("host output:   %s\n", display_path(options.out / "logs").c_str());
    if (options.junit) {
        suite.seconds = seconds_since(run_start);
        write_junit(suite, *options.junit);
        std::printf("JUnit report:  %s\n", display_path(*options.junit).c_str());
    }
    if (judge.updating()) std::printf("%s\n", judge.update_summary().c_str());
    print_summary(passed, failed, bad);
    if (bad > 0) return run_bad_scenario;
    return failed == 0 ? run_passed : run_expectation_failed;
}

}  // namespace

int run_command(const Options& options, const Locations& locations) {
    return run_scenarios(options, locations, options.inputs);
}

int demo_command(const Options& options, const Locations& locations) {
    return run_scenarios(options, locations, {locations.demo_scenarios().string()});
}

}  // namespace kestrel::bench
