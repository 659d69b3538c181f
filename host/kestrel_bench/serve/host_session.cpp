// Starting, feeding and stopping the child host of a live session. Reads are bounded in
// time and size; a child that dies or stalls is stopped with its whole process group
// and reported with its exit status or signal.
#include "host_session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrel::serve {

HostSession::HostSession(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         const std::filesystem::path& log) {
    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) throw HostGone(std::string("cannot make a pipe: ") + std::strerror(errno));
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        throw HostGone(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so that stopping it stops whatever it started; and the signals
    // that the server keeps for itself unblocked again.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    posix_spawnattr_setsigmask(&attributes, &no_signals);

    std::vector<std::string> env_strings;
    for (char** entry = environ; *entry != nullptr; ++entry) env_strings.emplace_back(*entry);
    env_strings.insert(env_strings.end(), environment.begin(), environment.end());
    std::vector<char*> env_pointers;
    for (std::string& entry : env_strings) env_pointers.push_back(entry.data());
    env_pointers.push_back(nullptr);
    std::vector<std::string> arguments = argv;
    std::vector<char*> arg_pointers;
    for (std::string& argument : arguments) arg_pointers.push_back(argument.data());
    arg_pointers.push_back(nullptr);

    const int error = posix_spawn(&pid_, arg_pointers[0], &actions, &attributes, arg_pointers.data(), env_pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in_pipe[0]);
    close(out_pipe[1]);
    to_child_ = in_pipe[1];
    from_child_ = out_pipe[0];
    if (error != 0) {
        pid_ = -1;
        close(to_child_);
        close(from_child_);
        throw HostGone(argv[0] + ": cannot start (" + std::strerror(error) + ")");
    }
}

HostSession::~HostSession() { stop(); }

void HostSession::stop() noexcept {
    if (to_child_ >= 0) close(to_child_);
    if (from_child_ >= 0) close(from_child_);
    to_child_ = from_child_ = -1;
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

std::string HostSession::exit_description() {
    if (pid_ <= 0) return "the host is not running";
    int status = 0;
    // The child closed its output; give it a moment to finish exiting.
    for (int i = 0; i < 50; ++i) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            if (WIFSIGNALED(status))
                return "the host was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                       strsignal(WTERMSIG(status)) + ")";
            return "the host exited with status " + std::to_string(WEXITSTATUS(status));
        }
        usleep(20'000);
    }
    return "the host closed its output";
}

void HostSession::fail(const std::string& what) {
    std::string message = what;
    if (pid_ > 0 && what.find("no answer") == std::string::npos) message += "; " + exit_description();
    stop();
    throw HostGone(message);
}

nlohmann::json HostSession::read_answer(std::chrono::duration<double> timeout) {
    if (from_child_ < 0) throw HostGone("the host is not running");
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
                 " s: the module hangs, and its host was stopped");
        pollfd poller{from_child_, POLLIN, 0};
        const int ready = poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t got = read(from_child_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) fail("the host stopped answering");
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

nlohmann::json HostSession::request(const std::string& line, std::chrono::duration<double> timeout) {
    if (to_child_ < 0) throw HostGone("the host is not running");
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t done = write(to_child_, text.data() + written, text.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) fail("the host no longer reads its commands");
        written += static_cast<std::size_t>(done);
    }
    return read_answer(timeout);
}

}  // namespace kestrel::serve
