// Feeding the child host of a live session and reading its answers. Reads are bounded in
// time and size; a child that dies or stalls is stopped with its whole process group and
// reported with its exit status or signal.
#include "host_session.h"

#include <cmath>

#include "json.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace kestrel::bench {
namespace {

std::string exit_text(const bench::ChildExit& exit) {
    if (exit.kind == bench::ChildExit::Kind::signalled) return "the host was " + exit.describe();
    return "the host exited with status " + std::to_string(exit.code);
}

// A value from the host's answer: a number, or NaN and the infinities as the trace writes them.
double answer_number(const nlohmann::json& value) {
    if (value.is_number()) return value.get<double>();
    const std::string text = value.get<std::string>();
    if (text == "NaN") return std::nan("");
    if (text == "Infinity") return INFINITY;
    if (text == "-Infinity") return -INFINITY;
    throw HostGone("the host sent a value that is not a number: " + text);
}

}  // namespace

SessionAnswer read_session_answer(const nlohmann::json& answer) {
    try {
        SessionAnswer read;
        read.updates = answer.at("updates").get<uint64_t>();
        read.listeners = answer.at("listeners").get<std::size_t>();
        for (const nlohmann::json& gauge : answer.at("gauges")) {
            AnsweredGauge each;
            for (const nlohmann::json& item : gauge.at("elements")) {
                trace::ElementState state;
                state.image_flags = item.at("flags").get<uint32_t>();
                if (item.contains("value")) state.value = answer_number(item.at("value"));
                if (item.contains("text")) state.text = kestrel::json::bytes_of(item.at("text").get<std::string>());
                each.elements.push_back(std::move(state));
            }
            for (const nlohmann::json& event : gauge.at("sent"))
                each.sent.push_back({event.at(0).get<uint32_t>(), event.at(1).get<uint32_t>()});
            if (gauge.contains("area") && !gauge.at("area").is_null()) each.area = gauge.at("area").get<std::size_t>();
            read.gauges.push_back(std::move(each));
        }
        for (const nlohmann::json& pair : answer.at("vars"))
            read.vars.emplace_back(pair.at(0).get<uint32_t>(), answer_number(pair.at(1)));
        return read;
    } catch (const nlohmann::json::exception& error) {
        throw HostGone(std::string("the host's answer is not of the session's shape (") + error.what() + ")");
    }
}

StartedSession start_session(const Host& host, const std::filesystem::path& module, const std::filesystem::path& work,
                             std::chrono::duration<double> timeout, const std::atomic<bool>& abandon,
                             const std::vector<std::string>& gauges) {
    // A sanitized host under an emulator starts slowly: the greeting may take long.
    constexpr std::chrono::seconds start_timeout{120};
    StartedSession started;
    std::vector<std::string> arguments = {"session", module.string(), "--gauge-info", work.string()};
    for (const std::string& gauge : gauges) arguments.insert(arguments.end(), {"--gauge", gauge});
    started.session = std::make_unique<HostSession>(host.command(arguments), host.environment, work / "host.log");
    const nlohmann::json greeting = started.session->read_answer(start_timeout, abandon);
    if (!greeting.value("ok", false)) throw HostGone(greeting.value("error", std::string("the host refused the module")));
    try {
        for (std::size_t i = 0; i < greeting.at("gauges").size(); ++i) {
            const trace::TraceSummary summary = trace::read_trace(work / (std::to_string(i) + ".jsonl"));
            if (!summary.gauge) throw HostGone("the host wrote no gauge record");
            started.gauges.push_back(*summary.gauge);
            started.areas.push_back(greeting.at("gauges")[i].at("areas"));
        }
        for (const nlohmann::json& name : greeting.at("module_gauges")) started.module_gauges.push_back(name.get<std::string>());
    } catch (const nlohmann::json::exception& error) {
        throw HostGone(std::string("the host's greeting is not of the session's shape (") + error.what() + ")");
    } catch (const trace::TraceError& error) {
        throw HostGone(std::string("the host's gauge record cannot be read: ") + error.what());
    }
    started.first = read_session_answer(started.session->read_answer(timeout, abandon));
    if (started.first.gauges.size() != started.gauges.size())
        throw HostGone("the host answered for a different number of gauges");
    return started;
}

HostSession::HostSession(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         const std::filesystem::path& log) {
    try {
        child_ = std::make_unique<bench::ChildProcess>(bench::ChildSpec{argv, environment, log, true, true});
    } catch (const bench::ChildError& error) {
        throw HostGone(error.what());
    }
}

std::optional<std::string> HostSession::ended() {
    if (!child_->running()) return "the host is not running";
    if (const std::optional<bench::ChildExit> exit = child_->poll()) {
        child_->close_pipes();
        return exit_text(*exit);
    }
    return std::nullopt;
}

std::string HostSession::exit_description() {
    if (!child_->running()) return "the host is not running";
    // The child closed its output; give it a moment to finish exiting.
    for (int i = 0; i < 50; ++i) {
        if (const std::optional<bench::ChildExit> exit = child_->poll()) return exit_text(*exit);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "the host closed its output but did not exit";
}

void HostSession::fail(const std::string& what) {
    child_->close_pipes();
    child_->stop();
    throw HostGone(what);
}

nlohmann::json HostSession::read_answer(std::chrono::duration<double> timeout, const std::atomic<bool>& abandon) {
    if (child_->output() < 0) throw HostGone("the host is not running");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            try {
                return nlohmann::json::parse(line);
            } catch (const nlohmann::json::exception&) {
                fail("the host answered something that is not JSON: " + line.substr(0, 200));
            }
        }
        if (buffer_.size() > max_answer_bytes)
            fail("the host's answer is longer than " + std::to_string(max_answer_bytes) + " bytes");
        if (abandon) fail("the host was stopped for a restart");
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            fail("no answer within " + std::to_string(static_cast<int>(timeout.count())) +
                 " s (the module hangs), so the host was stopped");
        pollfd poller{child_->output(), POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(std::min(left, abandon_check_period).count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t got = ::read(child_->output(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) fail(exit_description());
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

nlohmann::json HostSession::request(const std::string& line, std::chrono::duration<double> timeout,
                                    const std::atomic<bool>& abandon) {
    if (child_->input() < 0) throw HostGone("the host is not running");
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t done = ::write(child_->input(), text.data() + written, text.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) fail(exit_description());
        written += static_cast<std::size_t>(done);
    }
    return read_answer(timeout, abandon);
}

}  // namespace kestrel::bench
