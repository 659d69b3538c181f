// Windows of a panel, running: each module file their gauge lines name runs in a child
// host of its own (`kestrel-host session`), host variables and key events are shared
// across them as the simulator shares them, and a click at window coordinates goes to the
// gauge under it in the gauge's own pixels. snapshot, run and serve all drive panels so.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_locations.h"
#include "bench_options.h"
#include "host_launcher.h"
#include "host_session.h"
#include "panel_model.h"
#include "panel_picture.h"
#include "renderer.h"
#include "scenario.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::panel {

// A step the window cannot take, such as a click on no gauge: the caller's input is at fault.
class StepRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PanelSessionSettings {
    std::vector<std::filesystem::path> gau_folders;   // searched in order for MODULE.gau, in any letter case
    std::vector<std::filesystem::path> twin_folders;  // for the twin host: searched for MODULE.so
    bench::Host host;
    std::filesystem::path work;  // a folder of the session's own: host logs and gauge records
    double timeout_seconds = 30;  // a command's time limit, beyond the time its updates take
    // Turned true by whoever wants a command in flight to give up (the live page's
    // Restart); it must outlive the session. None: a command waits for its time limit.
    const std::atomic<bool>* abandon = nullptr;
};

// The settings a command's options give: the --gauges folder (else the bench's .gau
// folders that exist), the twin's folders, the time limit and the host chosen. Throws
// UsageError for a --gauges folder that cannot be read.
PanelSessionSettings session_settings(const bench::Options& options, const bench::Locations& locations, bench::Host host);

// A module file of the window and the host process that runs it.
struct PanelModule {
    std::string name;                 // as the first gauge line naming it writes it
    std::filesystem::path gau;        // the .gau: its pictures, and what the real host loads
    std::filesystem::path loaded;     // what the host loads (the twin's .so with the twin)
    std::vector<std::string> module_gauges;                // every gauge the module has
    std::vector<trace::GaugeInfo> gauges;                  // those its host drives: the ones the windows show
    std::vector<nlohmann::json> areas;                     // per gauge, as its host's greeting lists them
    std::vector<std::vector<trace::ElementState>> states;  // per gauge, after the last command
    std::vector<std::pair<uint32_t, double>> vars;         // host variables its host knows of
    std::size_t listeners = 0;        // key-event listeners its gauges registered
    std::string stopped;              // why its host is not running; empty while it runs
    std::string last_finished;        // the last command it answered, as a scenario writes it
    std::unique_ptr<bench::HostSession> session;
    std::unique_ptr<picture::PictureSet> pictures;
};

// A gauge line of a window as it runs.
struct PanelGauge {
    std::size_t window = 0;             // into windows()
    GaugeEntry entry;
    std::optional<std::size_t> module;  // into modules(), once its file was found
    std::optional<std::size_t> gauge;   // into that module's gauges, once its host named it
    std::string problem;                // why it does not run: the placeholder's reason
    Rect rect;                          // panel units, fixed when the session starts
    int width = 0;                      // its picture's pixels at scale 1
    int height = 0;
    std::optional<uint32_t> size_x_mm;
};

// A key event module code sent, and the gauge whose code sent it ("KESTREL!AP").
struct PanelKeyEvent {
    std::string source;
    KeyEvent event;
};

struct StepResult {
    std::vector<PanelKeyEvent> sent;   // during the step, in order, forwarded ones included
    std::optional<std::size_t> gauge;  // the gauge line a click went to (into gauges())
    std::optional<std::size_t> area;   // the click area of that gauge that took it
    std::vector<std::string> stopped;  // hosts that stopped during the step, each with why
};

// An element of the window as a panel scenario names it.
struct ElementRef {
    std::size_t module = 0;
    std::size_t gauge = 0;
    std::size_t element = 0;
};

// Key events that go back and forth between modules more often than this in one step are
// listeners answering each other without end.
inline constexpr int max_forwarding_rounds = 64;

class PanelSession {
public:
    // Starts a host for every module file the windows' gauge lines name, one for each file
    // however many windows show it. A module that is missing or does not start, and a gauge
    // it lacks, become placeholders with the reason.
    PanelSession(std::vector<Window> windows, PanelSessionSettings settings);
    ~PanelSession();
    PanelSession(const PanelSession&) = delete;
    PanelSession& operator=(const PanelSession&) = delete;

    // Every host variable is one value for the whole panel: a set reaches every module.
    StepResult set(uint32_t token, double value);
    StepResult update(uint64_t count);
    // Window coordinates in panel units; throws StepRefused for a point on no running gauge.
    StepResult click(std::size_t window, int x, int y, uint32_t flags);
    // A service id reaches every gauge of the panel, as the simulator's panel services do.
    StepResult service(int32_t id, uint32_t extra);
    // A key event from the simulator reaches every listener of every module.
    StepResult key(KeyEvent event);
    // Any step of a scenario but an expectation or a picture (a click on `window`); nullopt
    // for those.
    std::optional<StepResult> apply(const scenario::Action& action, std::size_t window = 0);

    // Stops the hosts that ended since the last command, each with why; never waits.
    std::vector<std::string> watch();

    const std::vector<Window>& windows() const { return windows_; }
    const std::vector<PanelGauge>& gauges() const { return gauges_; }
    const std::vector<PanelModule>& modules() const { return modules_; }
    WindowSize size(std::size_t window) const { return sizes_.at(window); }
    uint64_t updates() const { return updates_; }
    // The gauge line under a window point, the topmost (the last drawn) first.
    std::optional<std::size_t> gauge_at(std::size_t window, int x, int y) const;
    // Why a click there cannot be taken (no such window, no gauge, a placeholder); none if it can.
    std::optional<std::string> click_refusal(std::size_t window, int x, int y) const;

    // MODULE!GAUGE:[N] of the panel; throws StepRefused saying what the panel lacks.
    ElementRef element(const scenario::PanelElement& named) const;
    const trace::ElementState& state(const ElementRef& element) const;
    // "KESTREL!AP" for a module's gauge.
    std::string gauge_name(std::size_t module, std::size_t gauge) const;

    // Every gauge line of the window as it draws it now, each picture at `scale`.
    std::vector<GaugeDrawing> drawings(std::size_t window, int scale);
    picture::Image draw(std::size_t window, int scale, bool outline_areas);

private:
    void start(PanelModule& module);
    void stop(PanelModule& module, const std::string& what, const std::optional<std::string>& during);
    // Sends a line to a running module's host and takes in its answer; a host that goes
    // stops that module only, and is noted in the result.
    std::optional<bench::SessionAnswer> request(std::size_t module, const std::string& line, const std::string& written,
                                                uint64_t updates, StepResult& result);
    // The key events an answer says the module's gauges sent, noted in the result.
    std::vector<KeyEvent> take_sent(std::size_t module, const bench::SessionAnswer& answer, StepResult& result) const;
    // Hands the events each module's code sent to the listeners of every other module,
    // and what those send in turn, until none is left.
    void forward(std::vector<std::pair<std::size_t, std::vector<KeyEvent>>> queue, StepResult& result);
    void refresh_problems();
    picture::Image render(std::size_t module, std::size_t gauge, int scale);

    std::vector<Window> windows_;
    PanelSessionSettings settings_;
    std::vector<PanelModule> modules_;
    std::vector<PanelGauge> gauges_;  // every window's, window by window
    std::vector<WindowSize> sizes_;
    uint64_t updates_ = 0;
    std::atomic<bool> never_ = false;  // the abandon flag where the settings give none
    const std::atomic<bool>& abandon_;
    std::unique_ptr<picture::TextFace> readout_face_;
    std::unique_ptr<picture::TextFace> label_face_;
};

// The point of a gauge's own picture that a window point falls on: the window pixel's
// centre scaled back, so that a click lands in exactly the areas the window shows it in.
// "point (x, y) of window NN is on no gauge".
std::string on_no_gauge(const Window& window, int x, int y);

struct GaugePoint {
    int x = 0;
    int y = 0;
};
GaugePoint window_to_gauge(const PanelGauge& gauge, int x, int y);

}  // namespace kestrel::panel
