// The live panel's state and its commands to what it drives. Each command the page asks
// for is one step of the target; its answer replaces the gauges' states, its key events go
// to the log, and the step to the recorder. A host that dies stops the panel with the
// reason, and a restart starts it afresh.
#include "live_panel.h"

#include <unistd.h>

#include <cctype>
#include <fstream>

#include "module_lookup.h"
#include "numbers.h"

namespace kestrel::serve {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t max_log_entries = 2000;

bool has_extension(const fs::path& file, const std::string& extension) {
    std::string found = file.extension().string();
    for (char& c : found) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return found == extension;
}

}  // namespace

ServedModule served_module(const std::string& argument, const bench::Options& options, const bench::Locations& locations,
                           bench::HostKind kind) {
    ServedModule module;
    const fs::path given = argument;
    std::error_code error;
    const bool is_file = fs::is_regular_file(given, error);
    module.name = is_file ? given.stem().string() : argument;
    if (module.name.empty() || module.name.size() > 64 ||
        module.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
        throw bench::UsageError("'" + argument + "' is neither a module file nor a module name");
    if (is_file && has_extension(given, ".so") && kind != bench::HostKind::twin)
        throw bench::UsageError(display_path(given) + " is a native twin module: serve it with --native");
    const std::string extension = kind == bench::HostKind::twin ? ".so" : ".gau";
    const bool given_loads = is_file && has_extension(given, extension);
    module.loaded = given_loads ? given : bench::find_module(bench::module_folders(options, locations, kind), module.name, extension);
    module.pictures = is_file && has_extension(given, ".gau")
                          ? given
                          : bench::find_module(bench::gau_folders(options, locations), module.name, ".gau");
    return module;
}

fs::path live_work_folder(const fs::path& out) {
    const fs::path work = out / "sessions" / ("live-" + std::to_string(getpid()));
    fs::create_directories(work);
    return work;
}

LivePanel::LivePanel(PanelSettings settings, std::unique_ptr<LiveTarget> target, bench::Host host)
    : settings_(std::move(settings)), target_(std::move(target)), host_(std::move(host)) {
    fs::create_directories(settings_.out / "sessions");
    std::lock_guard talking(host_mutex_);
    start();
}

LivePanel::~LivePanel() {
    stopping_ = true;
    abandon_ = true;
    if (ticker_.joinable()) ticker_.join();
}

void LivePanel::start_ticker() {
    ticker_ = std::thread([this] { tick(); });
}

json LivePanel::info() {
    std::lock_guard lock(mutex_);
    json out = target_->describe();
    out["host"] = host_.description();
    out["scale"] = settings_.scale ? json(*settings_.scale) : json(nullptr);
    out["scales"] = panel_scales;
    out["rate"] = updates_per_second;
    out["timeout"] = settings_.timeout_seconds;
    out["modifier"] = "Shift";
    return out;
}

json LivePanel::state(uint64_t log_since) {
    std::lock_guard lock(mutex_);
    json out;
    out["running"] = running_;
    out["starting"] = starting_;
    out["reason"] = reason_;
    out["playing"] = playing_;
    out["updates"] = updates_;
    out["serial"] = serial_;
    out["steps"] = recorder_.size();
    out["last_finished"] = last_finished_;
    // A command the host has not answered yet: the page says so once it takes long.
    out["busy"] = nullptr;
    if (busy_)
        out["busy"] = {{"command", busy_->command},
                       {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - busy_->since).count()}};
    out["vars"] = json::array();
    for (const auto& [token, value] : vars_) out["vars"].push_back({{"token", token}, {"value", exact_number(value)}});
    // What the read-outs show, by element label, as text the page can print.
    out["readouts"] = target_->readouts(states_);
    out["log"] = json::array();
    for (const auto& [number, text] : log_)
        if (number > log_since) out["log"].push_back({{"serial", number}, {"text", text}});
    return out;
}

std::vector<uint8_t> LivePanel::frame_png(std::size_t picture, int scale) {
    GaugeStates states;
    uint64_t updates = 0;
    {
        std::lock_guard lock(mutex_);
        require_picture(picture);
        states = states_;
        updates = updates_;
    }
    // Drawn outside the state lock: a large frame must not hold up the page's polls.
    return target_->frame(picture, states, updates, scale);
}

void LivePanel::set_playing(bool playing) {
    std::lock_guard lock(mutex_);
    require_running();
    playing_ = playing;
    last_tick_ = std::chrono::steady_clock::now();
}

void LivePanel::step() {
    {
        std::lock_guard lock(mutex_);
        require_running();
        playing_ = false;
    }
    command({scenario::RunUpdates{1}, "update 1", std::nullopt, 1});
}

void LivePanel::click(std::size_t picture, int x, int y, bool modifier) {
    require_picture(picture);
    target_->check_click(picture, x, y);
    const uint32_t flags = modifier ? 0x80000000u : scenario::default_click_flags;
    command({scenario::Click{x, y, flags}, "click " + std::to_string(x) + " " + std::to_string(y) + " " + hex_word(flags),
             picture, 0});
}

void LivePanel::call_service(std::size_t picture, int32_t id) {
    require_picture(picture);
    command({scenario::CallService{id, 0}, "service " + std::to_string(id), picture, 0});
}

void LivePanel::set_variable(uint32_t token, double value) {
    // Tokens in decimal, as the README's and the demo's scenarios write them.
    command({scenario::SetVariable{token, value}, "set " + std::to_string(token) + " " + exact_number(value), std::nullopt, 0});
}

void LivePanel::send_key(uint32_t id, uint32_t value) {
    {
        std::lock_guard lock(mutex_);
        note("the page sent " + scenario::format_key_event({id, value}) + " to the " + std::to_string(listeners_) +
             " listener(s)");
    }
    command({scenario::SendKey{{id, value}}, "key " + hex_word(id) + " " + std::to_string(static_cast<int32_t>(value)),
             std::nullopt, 0});
}

void LivePanel::restart() {
    abandon_ = true;  // a command that hangs gives up within abandon_check_period
    std::lock_guard talking(host_mutex_);
    abandon_ = false;
    start();
}

json LivePanel::record(std::size_t picture) {
    std::lock_guard lock(mutex_);
    require_picture(picture);
    if (recorder_.empty()) throw Refusal{400, "nothing to record yet: play, click or set a variable first"};
    const auto [text, name] = target_->record(picture, recorder_);
    ++recordings_;
    const fs::path file =
        settings_.out / "sessions" / (name + "-" + std::to_string(getpid()) + "-" + std::to_string(recordings_) + ".scenario");
    std::ofstream stream(file);
    stream << text;
    if (!stream.flush()) throw Refusal{500, display_path(file) + ": cannot write the scenario"};
    return {{"file", fs::absolute(file).string()}, {"scenario", text}};
}

void LivePanel::require_running() const {
    if (starting_) throw Refusal{409, "the module's host is starting; wait a moment"};
    if (!running_) throw Refusal{409, "the module's host is not running: " + reason_ + " (restart it)"};
}

void LivePanel::require_picture(std::size_t picture) const {
    if (picture >= target_->pictures()) throw Refusal{400, "no gauge " + std::to_string(picture)};
}

std::string LivePanel::history() const {
    return last_finished_.empty() ? "it had finished no command since it started"
                                  : "the last command it finished was '" + last_finished_ + "'";
}

// (Re)starts the target, with host_mutex_ held; a failure leaves the panel stopped with
// the reason shown.
void LivePanel::start() {
    target_->stop();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        starting_ = true;
        playing_ = false;
        busy_.reset();
        recorder_.clear();
        recording_full_ = false;
        last_finished_.clear();
        reason_.clear();
        updates_ = 0;
        vars_.clear();
        ++serial_;
    }
    try {
        const TargetAnswer first = target_->start(abandon_);
        std::lock_guard lock(mutex_);
        take(first);
        running_ = true;
        starting_ = false;
        started_once_ = true;
        note(target_->started());
        for (const std::string& text : first.notes) note(text);
    } catch (const std::exception& error) {
        target_->stop();
        {
            std::lock_guard lock(mutex_);
            starting_ = false;
            reason_ = error.what();
            note("host stopped: " + reason_);
            ++serial_;
        }
        if (!started_once_) throw;
    }
}

// Ends the host session, with host_mutex_ held, and says why: what happened, the command
// it happened during (none: while the host waited for one), and the last one it finished.
void LivePanel::stop_host(const std::string& what, const std::optional<std::string>& during) {
    target_->stop();
    std::lock_guard lock(mutex_);
    running_ = false;
    playing_ = false;
    busy_.reset();
    reason_ = what + (during ? ", during '" + *during + "'" : std::string(" while it waited for a command")) + "; " +
              history();
    note("host stopped: " + reason_);
    ++serial_;
}

void LivePanel::note(const std::string& text) {
    log_.emplace_back(++log_serial_, text);
    while (log_.size() > max_log_entries) log_.pop_front();
}

void LivePanel::take(const TargetAnswer& answer) {
    states_ = answer.states;
    vars_ = answer.vars;
    updates_ = answer.updates;
    listeners_ = answer.listeners;
    ++serial_;
}

// Sends one step and records it. A host that is gone, or goes during the step, stops the
// panel with the reason, and the step is refused with it.
void LivePanel::command(const TargetStep& step) {
    std::lock_guard talking(host_mutex_);
    {
        std::lock_guard lock(mutex_);
        require_running();
        busy_ = Busy{step.line, std::chrono::steady_clock::now()};
    }
    const auto refuse_stopped = [this] {
        std::lock_guard lock(mutex_);
        return Refusal{409, reason_};
    };
    // A host that ended since the last command is not blamed on this one.
    std::vector<std::string> notes;
    const std::optional<std::string> ended = target_->ended(notes);
    {
        std::lock_guard lock(mutex_);
        for (const std::string& text : notes) note(text);
    }
    if (ended) {
        stop_host(*ended, std::nullopt);
        throw refuse_stopped();
    }
    TargetAnswer answer;
    try {
        answer = target_->step(step, abandon_);
    } catch (const HostGone& gone) {
        stop_host(gone.what(), step.line);
        throw refuse_stopped();
    } catch (const Refusal&) {
        std::lock_guard lock(mutex_);
        busy_.reset();
        throw;
    }
    std::lock_guard lock(mutex_);
    busy_.reset();
    take(answer);
    last_finished_ = step.line;
    for (const SentKey& sent : answer.sent)
        note(target_->gauge_name(sent.gauge) + " sent " + scenario::format_key_event(sent.event) + " during '" + step.line +
             "', delivered to " + std::to_string(listeners_) + " listener(s)");
    for (const std::string& text : answer.notes) note(text);
    if (!recorder_.remember(step.line, step.picture, step.updates, states_, answer.sent) && !recording_full_) {
        note("the recording is full: later steps are not recorded");
        recording_full_ = true;
    }
}

// Runs updates at the host's rate while playing (a slow host gets them in batches), and
// between commands looks whether the host ended, so that the page learns of it at once.
void LivePanel::tick() {
    const auto period = std::chrono::microseconds(1'000'000 / updates_per_second);
    while (!stopping_) {
        std::this_thread::sleep_for(period);
        uint64_t due = 0;
        {
            std::lock_guard lock(mutex_);
            if (playing_ && running_) {
                const auto now = std::chrono::steady_clock::now();
                due = std::min<uint64_t>(static_cast<uint64_t>((now - last_tick_) / period), updates_per_second);
                if (due > 0) last_tick_ = now;
            }
        }
        if (due == 0) {
            watch();
            continue;
        }
        try {
            command({scenario::RunUpdates{due}, "update " + std::to_string(due), std::nullopt, due});
        } catch (const Refusal&) {
            // The panel is stopped and says why; the page offers a restart.
        }
    }
}

void LivePanel::watch() {
    std::unique_lock talking(host_mutex_, std::try_to_lock);
    if (!talking.owns_lock()) return;  // a command is in flight: it will notice
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
    }
    std::vector<std::string> notes;
    const std::optional<std::string> ended = target_->ended(notes);
    if (!notes.empty()) {
        std::lock_guard lock(mutex_);
        for (const std::string& text : notes) note(text);
        ++serial_;
    }
    if (ended) stop_host(*ended, std::nullopt);
}

}  // namespace kestrel::serve
