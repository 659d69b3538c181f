// The bench's one way to start a program: a child in a process group of its own (so that
// stopping it stops whatever it started), with its output in a log file or a pipe, the
// signals the bench keeps for itself back to their defaults, and a time limit on waiting.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::bench {

// The program could not be started; what() names it and says why (e.g. "Exec format error").
class ChildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ChildExit {
    enum class Kind { exited, signalled, timed_out };
    Kind kind = Kind::exited;
    int code = 0;  // exit status, or the signal's number
    std::chrono::duration<double> elapsed{};

    // "exit status 3", "killed by signal 11 (Segmentation fault)", "no end within 5 s".
    std::string describe() const;
};

struct ChildSpec {
    std::vector<std::string> argv;         // argv[0] is looked up on PATH unless it holds a '/'
    std::vector<std::string> environment;  // NAME=VALUE, added to the bench's own
    std::filesystem::path log;             // standard error, and standard output unless piped
    bool pipe_input = false;               // else standard input reads /dev/null
    bool pipe_output = false;
};

class ChildProcess {
public:
    // Throws ChildError when the program cannot be started or the log cannot be created.
    explicit ChildProcess(const ChildSpec& spec);
    // A child still running is stopped with its whole group.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The write end of the child's standard input and the read end of its output, or -1.
    int input() const { return input_; }
    int output() const { return output_; }
    void close_pipes() noexcept;

    // Its exit if it has ended, without waiting.
    std::optional<ChildExit> poll();
    // Waits for its end; past the limit the group is killed and the exit is timed_out.
    ChildExit wait(std::chrono::duration<double> limit);
    // Kills the group and collects the child.
    void stop() noexcept;
    bool running() const { return pid_ > 0; }

private:
    ChildExit collected(int status);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::chrono::steady_clock::time_point start_;
};

// Runs a program to its end with standard output and error in the log file.
ChildExit run_child(const std::vector<std::string>& argv, const std::filesystem::path& log,
                    std::chrono::duration<double> timeout, const std::vector<std::string>& environment = {});

}  // namespace kestrel::bench
