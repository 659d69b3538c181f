// The live panel behind the page: what it drives (a module's gauges, or a panel file's
// windows), what they last showed, the log the page reads, the recorder, and the ticker
// that runs updates at the host's rate while playing and notices a host that ended. The
// routes call it from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_locations.h"
#include "bench_options.h"
#include "host_launcher.h"
#include "live_target.h"
#include "session_recorder.h"

namespace kestrel::serve {

// The module named on serve's command line, a file or a name, looked up in the bench's
// one order for the host kind. Throws UsageError.
ServedModule served_module(const std::string& argument, const bench::Options& options, const bench::Locations& locations,
                           bench::HostKind kind);

struct PanelSettings {
    std::filesystem::path out;  // sessions are written under out/sessions/
    std::optional<int> scale;   // the scale the page starts at; none: the largest that fits
    double timeout_seconds = 10;  // a command's time limit
};

// The scales a frame is drawn at, as the renderer takes them.
inline constexpr int panel_scales[] = {1, 2, 4};

// The folder of this live panel's own files, below out/sessions/.
std::filesystem::path live_work_folder(const std::filesystem::path& out);

// Two locks: `host_mutex_` lets one command at a time talk to the host (a slow or hung
// one holds it), `mutex_` guards what the page reads and is held only briefly, so that the
// page keeps learning what happens while the host is busy. Where both are taken,
// host_mutex_ comes first.
class LivePanel {
public:
    static constexpr int updates_per_second = 18;

    // Starts the target; throws when its first start fails.
    LivePanel(PanelSettings settings, std::unique_ptr<LiveTarget> target, bench::Host host);
    ~LivePanel();
    LivePanel(const LivePanel&) = delete;
    LivePanel& operator=(const LivePanel&) = delete;

    // Runs updates while playing, and between commands watches for a host that ended.
    void start_ticker();

    nlohmann::json info();
    nlohmann::json state(uint64_t log_since);
    std::vector<uint8_t> frame_png(std::size_t picture, int scale);
    void set_playing(bool playing);
    void step();
    void click(std::size_t picture, int x, int y, bool modifier);
    void call_service(std::size_t picture, int32_t id);
    void set_variable(uint32_t token, double value);
    void send_key(uint32_t id, uint32_t value);
    // Stops the host, also one that hangs in a command, and starts it afresh.
    void restart();
    // The session so far as a scenario of one picture (a gauge, or a window), written into
    // the sessions folder.
    nlohmann::json record(std::size_t picture);

private:
    struct Busy {
        std::string command;  // as the scenario writes it
        std::chrono::steady_clock::time_point since;
    };

    void require_running() const;
    void require_picture(std::size_t picture) const;
    void start();
    void stop_host(const std::string& what, const std::optional<std::string>& during);
    std::string history() const;
    void note(const std::string& text);
    // Takes a start's or a step's answer, with mutex_ held.
    void take(const TargetAnswer& answer);
    void command(const TargetStep& step);
    void tick();
    void watch();

    PanelSettings settings_;
    std::unique_ptr<LiveTarget> target_;
    bench::Host host_;
    bool started_once_ = false;

    std::mutex host_mutex_;
    std::atomic<bool> abandon_ = false;  // a restart asks the command in flight to give up

    std::mutex mutex_;
    GaugeStates states_;
    std::vector<std::pair<uint32_t, double>> vars_;
    std::deque<std::pair<uint64_t, std::string>> log_;
    uint64_t log_serial_ = 0;
    SessionRecorder recorder_;
    bool recording_full_ = false;
    int recordings_ = 0;
    uint64_t updates_ = 0;
    uint64_t serial_ = 0;
    std::size_t listeners_ = 0;
    bool running_ = false;
    bool starting_ = false;
    bool playing_ = false;
    std::optional<Busy> busy_;
    std::string last_finished_;  // the last command the host answered, as the scenario writes it
    std::string reason_;
    std::chrono::steady_clock::time_point last_tick_;

    std::atomic<bool> stopping_ = false;
    std::thread ticker_;
};

}  // namespace kestrel::serve
