// Child processes with fork and exec: the child gets its own process group so that a
// timeout ends everything it started, and the parent polls for its end with backoff.
#include "scenario_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "run_status.h"

namespace kestrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The last lines of the host's output: what it said before it stopped.
std::string log_tail(const std::filesystem::path& log, std::size_t max_lines = 6) {
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    std::string tail;
    for (std::size_t i = lines.size() > max_lines ? lines.size() - max_lines : 0; i < lines.size(); ++i)
        tail += (tail.empty() ? "" : "\n    ") + lines[i];
    return tail;
}

std::string where(const ScenarioRun& run, const trace::TraceSummary* summary) {
    if (summary == nullptr || !summary->last_command_line)
        return run.scenario.string() + ": before the first command";
    return run.scenario.string() + ":" + std::to_string(*summary->last_command_line) + ": " +
           summary->last_command_text;
}

// The program file for a command name: as given when it holds a '/', else the first
// executable of that name on PATH. (execvp would also run a file it cannot execute as a
// shell script, which for a 32-bit program on a 64-bit-only kernel never ends well.)
std::string program_file(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string candidate = (end > start ? directories.substr(start, end - start) : ".") + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

}  // namespace

std::filesystem::path native_build(const std::filesystem::path& source_root) {
    const std::filesystem::path optimized = source_root / "build" / "native-release";
    std::error_code error;
    if (std::filesystem::exists(optimized / "host" / "kestrel-host", error)) return optimized;
    return source_root / "build" / "native";
}

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

ChildExit run_child(const std::vector<std::string>& argv, const std::filesystem::path& log_file,
                    std::chrono::duration<double> timeout, const std::vector<std::string>& environment) {
    if (argv.empty()) throw std::runtime_error("no program to run");
    const int log = ::open(log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) throw std::runtime_error(log_file.string() + ": cannot create the log (" + std::strerror(errno) + ")");
    const std::string program = program_file(argv[0]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // A pipe that exec closes: a byte on it means exec failed, carrying errno.
    int exec_pipe[2];
    if (::pipe2(exec_pipe, O_CLOEXEC) != 0) {
        ::close(log);
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    }

    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(log);
        throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        const int null_input = ::open("/dev/null", O_RDONLY);
        if (null_input >= 0) ::dup2(null_input, STDIN_FILENO);
        for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
        ::execv(program.c_str(), args.data());
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(exec_pipe[1], &error, sizeof error);
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from here, so the group exists before any kill
    ::close(log);
    ::close(exec_pipe[1]);
    int exec_error = 0;
    const bool exec_failed = ::read(exec_pipe[0], &exec_error, sizeof exec_error) == sizeof exec_error;
    ::close(exec_pipe[0]);

    ChildExit result;
    int status = 0;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
        if (Clock::now() - start > timeout) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.kind = ChildExit::Kind::timed_out;
            result.elapsed = Clock::now() - start;
            return result;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    result.elapsed = Clock::now() - start;
    if (exec_failed)
        throw std::runtime_error(argv[0] + ": cannot run the program (" + std::strerror(exec_error) + ")");
    if (WIFSIGNALED(status)) {
        result.kind = ChildExit::Kind::signalled;
        result.code = WTERMSIG(status);
    } else {
        result.code = WEXITSTATUS(status);
    }
    return result;
}

ScenarioOutcome judge_run(const ScenarioRun& run, const ChildExit& exit) {
    ScenarioOutcome outcome;
    outcome.elapsed = exit.elapsed;
    std::optional<std::string> trace_problem;
    if (std::filesystem::exists(run.trace)) {
        try {
            outcome.trace = trace::read_trace(run.trace);
        } catch (const std::exception& error) {
            trace_problem = error.what();
        }
    }
    const trace::TraceSummary* summary = outcome.trace ? &*outcome.trace : nullptr;
    const bool ended = summary != nullptr && summary->ended;

    if (exit.kind == ChildExit::Kind::timed_out) {
        outcome.verdict = Verdict::hung;
        std::ostringstream message;
        message << where(run, summary) << ": no end after " << run.timeout.count() << " s; the process was killed";
        outcome.messages.push_back(message.str());
        return outcome;
    }
    if (exit.kind == ChildExit::Kind::exited && exit.code == run_bad_scenario) {
        outcome.verdict = Verdict::bad_scenario;
        outcome.messages.push_back(log_tail(run.log));
        return outcome;
    }
    if (exit.kind == ChildExit::Kind::exited && exit.code == run_host_error) {
        outcome.verdict = Verdict::host_error;
        if (summary != nullptr && summary->error)
            outcome.messages.push_back(run.scenario.string() +
                                       (summary->error_line > 0 ? ":" + std::to_string(summary->error_line) : "") +
                                       ": " + *summary->error);
        else
            outcome.messages.push_back(log_tail(run.log));
        return outcome;
    }
    const bool clean_exit = exit.kind == ChildExit::Kind::exited &&
                            (exit.code == run_passed || exit.code == run_expectation_failed);
    if (!clean_exit || !ended) {
        outcome.verdict = Verdict::crashed;
        std::string how = exit.kind == ChildExit::Kind::signalled
                              ? "killed by signal " + std::to_string(exit.code) + " (" + strsignal(exit.code) + ")"
                              : "exit status " + std::to_string(exit.code);
        if (trace_problem) how += "; " + *trace_problem;
        if (clean_exit) how += ", without finishing its trace";
        std::string message = where(run, summary) + ": the host stopped here (" + how + ")";
        if (const std::string tail = log_tail(run.log); !tail.empty()) message += "\n    " + tail;
        outcome.messages.push_back(message);
        return outcome;
    }
    for (const trace::ExpectationResult& expectation : summary->expectations)
        if (!expectation.passed)
            outcome.messages.push_back(run.scenario.string() + ":" + std::to_string(expectation.line) + ": " +
                                       expectation.command + ": " + expectation.message);
    outcome.verdict = outcome.messages.empty() && exit.code == run_passed ? Verdict::passed : Verdict::failed;
    if (outcome.verdict == Verdict::failed && outcome.messages.empty())
        outcome.messages.push_back(run.scenario.string() + ": the host reported a failure: " + log_tail(run.log));
    return outcome;
}

ScenarioOutcome run_scenario(const ScenarioRun& run) {
    std::error_code ignored;
    std::filesystem::remove(run.trace, ignored);  // a trace left from an earlier run must not be judged
    std::vector<std::string> argv = run.host_command;
    argv.insert(argv.end(), {"run", run.scenario.string(), "--trace", run.trace.string(), "--modules", run.modules.string()});
    if (run.real_module) argv.push_back("--real-module");
    return judge_run(run, run_child(argv, run.log, run.timeout, run.environment));
}

}  // namespace kestrel::bench
