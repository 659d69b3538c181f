// Child processes through posix_spawnp, which reports a program that cannot be executed as
// an error (and never runs it as a shell script), and waiting with a backoff from 0.2 to 20 ms.
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace kestrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A pair of pipe ends that close themselves unless handed on.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw ChildError(std::string("cannot make a pipe: ") + std::strerror(errno));
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        if (read >= 0) ::close(read);
        if (write >= 0) ::close(write);
    }
    int take_read() { return std::exchange(read, -1); }
    int take_write() { return std::exchange(write, -1); }
};

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

}  // namespace

std::string ChildExit::describe() const {
    std::ostringstream text;
    switch (kind) {
        case Kind::exited: text << "exit status " << code; break;
        case Kind::signalled: text << "killed by signal " << code << " (" << strsignal(code) << ")"; break;
        case Kind::timed_out: text << "no end within " << elapsed.count() << " s"; break;
    }
    return text.str();
}

ChildProcess::ChildProcess(const ChildSpec& spec) {
    if (spec.argv.empty()) throw ChildError("no program to run");
    std::optional<Pipe> input_pipe;
    std::optional<Pipe> output_pipe;
    if (spec.pipe_input) input_pipe.emplace();
    if (spec.pipe_output) output_pipe.emplace();

    SpawnSetup setup;
    if (input_pipe) posix_spawn_file_actions_adddup2(&setup.actions, input_pipe->read, STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The log is opened here rather than in the child, so that a log that cannot be
    // created is named as such and not mistaken for a program that cannot start.
    const int log = ::open(spec.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) throw ChildError(spec.log.string() + ": cannot create the log (" + std::strerror(errno) + ")");
    if (output_pipe) posix_spawn_file_actions_adddup2(&setup.actions, output_pipe->write, STDOUT_FILENO);
    else posix_spawn_file_actions_adddup2(&setup.actions, log, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, log, STDERR_FILENO);

    // A group of its own; the signals the bench blocks or ignores (the server waits for
    // INT and TERM on one thread, and a closed pipe must not end it) back to normal.
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    posix_spawnattr_setsigmask(&setup.attributes, &no_signals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal_number : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);

    std::vector<std::string> environment_strings;
    for (char** entry = environ; *entry != nullptr; ++entry) environment_strings.emplace_back(*entry);
    environment_strings.insert(environment_strings.end(), spec.environment.begin(), spec.environment.end());
    std::vector<char*> environment_pointers;
    for (std::string& entry : environment_strings) environment_pointers.push_back(entry.data());
    environment_pointers.push_back(nullptr);
    std::vector<std::string> arguments = spec.argv;
    std::vector<char*> argument_pointers;
    for (std::string& argument : arguments) argument_pointers.push_back(argument.data());
    argument_pointers.push_back(nullptr);

    start_ = Clock::now();
    const int error = posix_spawnp(&pid_, argument_pointers[0], &setup.actions, &setup.attributes,
                                   argument_pointers.data(), environment_pointers.data());
    ::close(log);
    if (error != 0) {
        pid_ = -1;
        throw ChildError(spec.argv[0] + ": cannot run the program (" + std::strerror(error) + ")");
    }
    if (input_pipe) input_ = input_pipe->take_write();
    if (output_pipe) output_ = output_pipe->take_read();
}

ChildProcess::~ChildProcess() {
    close_pipes();
    stop();
}

void ChildProcess::close_pipes() noexcept {
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
    input_ = output_ = -1;
}

ChildExit ChildProcess::collected(int status) {
    pid_ = -1;
    ChildExit exit;
    exit.elapsed = Clock::now() - start_;
    if (WIFSIGNALED(status)) {
        exit.kind = ChildExit::Kind::signalled;
        exit.code = WTERMSIG(status);
    } else {
        exit.code = WEXITSTATUS(status);
    }
    return exit;
}

std::optional<ChildExit> ChildProcess::poll() {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) return collected(status);
    if (done < 0 && errno != EINTR) throw ChildError(std::string("waitpid: ") + std::strerror(errno));
    return std::nullopt;
}

ChildExit ChildProcess::wait(std::chrono::duration<double> limit) {
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (std::optional<ChildExit> exit = poll()) return *exit;
        if (pid_ <= 0) throw ChildError("the child was already collected");
        if (Clock::now() - start_ > limit) {
            stop();
            ChildExit exit;
            exit.kind = ChildExit::Kind::timed_out;
            exit.elapsed = Clock::now() - start_;
            return exit;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

void ChildProcess::stop() noexcept {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

ChildExit run_child(const std::vector<std::string>& argv, const std::filesystem::path& log,
                    std::chrono::duration<double> timeout, const std::vector<std::string>& environment) {
    ChildProcess child({argv, environment, log, false, false});
    return child.wait(timeout);
}

}  // namespace kestrel::bench
