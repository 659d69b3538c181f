// Judging a scenario run: the host's exit status (run_status.h) says how it ended, the
// trace says how far it got, and the host's log adds what it printed on the way.
#include "scenario_process.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "module_lookup.h"
#include "run_status.h"

namespace kestrel::bench {
namespace {

constexpr const char* warning_marker = ": warning: ";

struct HostLog {
    std::vector<std::string> warnings;
    std::string tail;  // the last lines that are not warnings: what it said before it stopped
};

HostLog read_log(const std::filesystem::path& log, std::size_t max_tail_lines = 6) {
    HostLog result;
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (line.find(warning_marker) != std::string::npos) result.warnings.push_back(line);
        else lines.push_back(line);
    }
    for (std::size_t i = lines.size() > max_tail_lines ? lines.size() - max_tail_lines : 0; i < lines.size(); ++i)
        result.tail += (result.tail.empty() ? "" : "\n    ") + lines[i];
    return result;
}

std::string where(const ScenarioRun& run, const trace::TraceSummary* summary) {
    const std::string file = display_path(run.scenario);
    if (summary == nullptr || !summary->last_command_line) return file + ": before the first command";
    return file + ":" + std::to_string(*summary->last_command_line) + ": " + summary->last_command_text;
}

}  // namespace

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
        case Verdict::passed: return "PASS";
        case Verdict::failed: return "FAIL";
        case Verdict::bad_scenario: return "BAD SCENARIO";
        case Verdict::host_error: return "HOST ERROR";
        case Verdict::crashed: return "CRASH";
        case Verdict::hung: return "HANG";
    }
    return "?";
}

ScenarioOutcome judge_run(const ScenarioRun& run, const ChildExit& exit) {
    ScenarioOutcome outcome;
    outcome.elapsed = exit.elapsed;
    HostLog log = read_log(run.log);
    outcome.warnings = std::move(log.warnings);
    std::optional<std::string> trace_problem;
    std::error_code missing;
    if (std::filesystem::exists(run.trace, missing)) {
        try {
            outcome.trace = trace::read_trace(run.trace);
        } catch (const std::exception& error) {
            trace_problem = error.what();
        }
    }
    const trace::TraceSummary* summary = outcome.trace ? &*outcome.trace : nullptr;
    const bool ended = summary != nullptr && summary->ended;
    const std::string file = display_path(run.scenario);

    if (exit.kind == ChildExit::Kind::timed_out) {
        outcome.verdict = Verdict::hung;
        std::ostringstream message;
        message << where(run, summary) << ": no end after " << run.timeout.count() << " s; the process was killed";
        outcome.messages.push_back(message.str());
        return outcome;
    }
    if (exit.kind == ChildExit::Kind::exited && exit.code == run_bad_scenario) {
        outcome.verdict = Verdict::bad_scenario;
        outcome.messages.push_back(log.tail);
        return outcome;
    }
    if (exit.kind == ChildExit::Kind::exited && exit.code == run_host_error) {
        outcome.verdict = Verdict::host_error;
        if (summary != nullptr && summary->error)
            outcome.messages.push_back(file + (summary->error_line > 0 ? ":" + std::to_string(summary->error_line) : "") +
                                       ": " + *summary->error);
        else
            outcome.messages.push_back(log.tail);
        return outcome;
    }
    const bool clean_exit = exit.kind == ChildExit::Kind::exited &&
                            (exit.code == run_passed || exit.code == run_expectation_failed);
    if (!clean_exit || !ended) {
        outcome.verdict = Verdict::crashed;
        std::string how = exit.describe();
        if (trace_problem) how += "; " + *trace_problem;
        if (clean_exit) how += ", without finishing its trace";
        std::string message = where(run, summary) + ": the host stopped here (" + how + ")";
        if (!log.tail.empty()) message += "\n    " + log.tail;
        outcome.messages.push_back(message);
        return outcome;
    }
    for (const trace::ExpectationResult& expectation : summary->expectations)
        if (!expectation.passed)
            outcome.messages.push_back(file + ":" + std::to_string(expectation.line) + ": " + expectation.command + ": " +
                                       expectation.message);
    outcome.verdict = outcome.messages.empty() && exit.code == run_passed ? Verdict::passed : Verdict::failed;
    if (outcome.verdict == Verdict::failed && outcome.messages.empty())
        outcome.messages.push_back(file + ": the host reported a failure: " + log.tail);
    return outcome;
}

ScenarioOutcome run_scenario(const ScenarioRun& run) {
    std::error_code ignored;
    std::filesystem::remove(run.trace, ignored);  // a trace left from an earlier run must not be judged
    std::vector<std::string> arguments = {"run", run.scenario.string(), "--trace", run.trace.string(), "--modules",
                                          run.modules.string()};
    if (run.host.real_module()) arguments.push_back("--real-module");
    if (!run.pictures.empty()) {
        arguments.push_back("--pictures");
        arguments.push_back(run.pictures.string());
    }
    return judge_run(run, run_child(run.host.command(arguments), run.log, run.timeout, run.host.environment));
}

}  // namespace kestrel::bench
