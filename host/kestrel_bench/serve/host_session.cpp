// Feeding the child host of a live session and reading its answers. Reads are bounded in
// time and size; a child that dies or stalls is stopped with its whole process group and
// reported with its exit status or signal.
#include "host_session.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace kestrel::serve {

HostSession::HostSession(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         const std::filesystem::path& log) {
    try {
        child_ = std::make_unique<bench::ChildProcess>(bench::ChildSpec{argv, environment, log, true, true});
    } catch (const bench::ChildError& error) {
        throw HostGone(error.what());
    }
}

std::string HostSession::exit_description() {
    if (!child_->running()) return "the host is not running";
    // The child closed its output; give it a moment to finish exiting.
    for (int i = 0; i < 50; ++i) {
        if (const std::optional<bench::ChildExit> exit = child_->poll()) {
            if (exit->kind == bench::ChildExit::Kind::signalled) return "the host was " + exit->describe();
            return "the host exited with status " + std::to_string(exit->code);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "the host closed its output";
}

void HostSession::fail(const std::string& what, bool describe_exit) {
    std::string message = what;
    if (describe_exit && child_->running()) message += "; " + exit_description();
    child_->close_pipes();
    child_->stop();
    throw HostGone(message);
}

nlohmann::json HostSession::read_answer(std::chrono::duration<double> timeout) {
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
        if (buffer_.size() > max_answer_bytes) fail("the host's answer is longer than " + std::to_string(max_answer_bytes) + " bytes");
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            fail("no answer within " + std::to_string(static_cast<int>(timeout.count())) +
                     " s: the module hangs, and its host was stopped",
                 false);
        pollfd poller{child_->output(), POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t got = ::read(child_->output(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) fail("the host stopped answering");
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

nlohmann::json HostSession::request(const std::string& line, std::chrono::duration<double> timeout) {
    if (child_->input() < 0) throw HostGone("the host is not running");
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t done = ::write(child_->input(), text.data() + written, text.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) fail("the host no longer reads its commands");
        written += static_cast<std::size_t>(done);
    }
    return read_answer(timeout);
}

}  // namespace kestrel::serve
