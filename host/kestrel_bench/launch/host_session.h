// The bench's end of a live session: one child `kestrel-host session` process, fed one
// command line at a time through a pipe, each answer one JSON line read back with a time
// limit. A crash or hang ends the child, not the bench.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "host_launcher.h"
#include "key_event.h"
#include "trace.h"

namespace kestrel::bench {

// The child is gone (crashed, hung and stopped, or exited); what() says how, as in "the
// host was killed by signal 9 (Killed)", without the command it was given.
class HostGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HostSession {
public:
    // Starts argv with `environment` (NAME=VALUE) added; its standard error goes to log.
    // Throws HostGone when it cannot be started.
    HostSession(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                const std::filesystem::path& log);

    // The next answer line, parsed. Throws HostGone (and stops the child) on end of
    // output, a time-out, an over-long line, one that is not JSON, or when `abandon` turns
    // true while it waits (the page asked for a restart).
    nlohmann::json read_answer(std::chrono::duration<double> timeout, const std::atomic<bool>& abandon);
    // Sends one command line and reads its answer.
    nlohmann::json request(const std::string& line, std::chrono::duration<double> timeout,
                           const std::atomic<bool>& abandon);
    // How the child ended, if it has ended since the last command: "the host was killed by
    // signal 9 (Killed)" or "the host exited with status 3". Never waits.
    std::optional<std::string> ended();

private:
    [[noreturn]] void fail(const std::string& what);
    std::string exit_description();

    std::unique_ptr<bench::ChildProcess> child_;
    std::string buffer_;
};

// One answer of the session, as the bench reads it: every gauge's element states, the key
// events each sent during the command and the area a click took, the updates run so far,
// the listeners registered and the host variables known.
struct AnsweredGauge {
    std::vector<trace::ElementState> elements;
    std::vector<KeyEvent> sent;
    std::optional<std::size_t> area;
};
struct SessionAnswer {
    uint64_t updates = 0;
    std::size_t listeners = 0;
    std::vector<AnsweredGauge> gauges;
    std::vector<std::pair<uint32_t, double>> vars;
};
// Throws HostGone for an answer of the wrong shape: not a host the bench can follow.
SessionAnswer read_session_answer(const nlohmann::json& answer);

// A session just started: the host, each gauge's stored fields (the head of a trace, as
// the host writes them into `work`), each gauge's click areas as the greeting lists them
// ({index, kind, parent, box, whole, cursor, help, flags, tooltip}), and the first state.
struct StartedSession {
    std::unique_ptr<HostSession> session;
    std::vector<std::string> module_gauges;  // every gauge the module has, driven or not
    std::vector<trace::GaugeInfo> gauges;
    std::vector<nlohmann::json> areas;
    SessionAnswer first;
};
// Starts `kestrel-host session MODULE` on the host, driving only the gauges named (any
// letter case; none named: every gauge); its log goes to work/host.log. Throws HostGone
// when it does not start or answers as no session does.
StartedSession start_session(const Host& host, const std::filesystem::path& module, const std::filesystem::path& work,
                             std::chrono::duration<double> timeout, const std::atomic<bool>& abandon,
                             const std::vector<std::string>& gauges = {});

// Answers longer than this are not ones the session writes.
inline constexpr std::size_t max_answer_bytes = 8 << 20;
// The longest a wait for an answer goes without looking whether the page asked to abandon it.
inline constexpr std::chrono::milliseconds abandon_check_period{50};

}  // namespace kestrel::bench
