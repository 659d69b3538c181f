// Traces: what a scenario run did to a gauge, as JSON Lines. The runner writes one record
// per command it starts and one per update, click, service call, key event and picture.
// The first record carries the static element fields that drawing needs and the format's
// number. Format 2, written now: an update record lists only the elements whose state
// changed since the record before, and every full_record_interval-th update and every
// other record holds every element's value, image_flags and text. Format 1, read still,
// has every element in every record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "key_event.h"

namespace kestrel::trace {

class TraceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const Point&) const = default;
};

// A needle table entry: the background pixel the needle points at for this value.
struct TablePoint {
    Point point;
    double value = 0;
};

// An element's fields as stored in the module, read once before the first command.
struct ElementInfo {
    std::string label;  // drawing-order path, "0", "0.1", ...
    uint32_t kind = 0;  // 0 static image, 1 needle, 2 read-out, 4 icon
    uint32_t resource_id = 0;
    Point position;
    Point anchor;
    uint32_t image_flags = 0;  // as stored
    // Read-outs.
    int32_t width = 0;
    int32_t height = 0;
    uint32_t fore_colour = 0;  // Windows 0x00BBGGRR
    uint32_t back_colour = 0;
    uint32_t char_count = 0;
    std::string font_name;
    // Icons.
    uint32_t icon_count = 0;
    uint32_t icon_switch = 0;
    // Needles: empty when the value is an angle.
    std::vector<TablePoint> table;
};

inline constexpr uint32_t kind_static_image = 0;
inline constexpr uint32_t kind_needle = 1;
inline constexpr uint32_t kind_string = 2;
inline constexpr uint32_t kind_icon = 4;
inline constexpr uint32_t flag_image_hidden = 0x40000000;

inline constexpr int trace_format = 2;
// Update records that carry every element, so that a reader can start from one.
inline constexpr uint64_t full_record_interval = 1000;

// Bounds on what a trace may hold. The writer stops a run before its trace outgrows
// max_trace_bytes; the reader refuses anything beyond any of them. A day of a gauge at
// the host's 18 updates a second, each update recording a few changes, fits.
inline constexpr uint64_t max_trace_bytes = 1ull << 30;
inline constexpr std::size_t max_trace_line = 16u << 20;
inline constexpr std::size_t max_trace_elements = 4096;
inline constexpr std::size_t max_trace_pictures = 1000;
inline constexpr std::size_t max_table_points = 4096;
inline constexpr std::size_t max_name_length = 256;
inline constexpr std::size_t max_text_length = 4096;
inline constexpr uint32_t max_char_count = 1024;
inline constexpr int32_t max_coordinate = 1'000'000;
inline constexpr int32_t max_picture_side = 16384;

// A click area of the gauge's list, as drawing outlines needs it: its box in gauge
// pixels (parents' origins added), whether it stands for the whole gauge, its help id and
// its tooltip's text as the module stores it (single bytes), if it has one.
struct ClickArea {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool parent = false;  // a parent record; otherwise a child inside one
    bool whole_gauge = false;
    uint32_t help_id = 0;
    std::optional<std::string> tooltip;
};
inline constexpr std::size_t max_click_areas = 4096;

struct GaugeInfo {
    std::string scenario;     // the scenario file as the runner was given it
    std::string module;       // the module name the scenario gives
    std::string module_file;  // the file that was loaded
    std::string gauge;
    std::vector<ElementInfo> elements;  // drawing order
    // The gauge header's default width on a panel, in panel units; absent in traces
    // written before it was recorded.
    std::optional<uint32_t> size_x_mm;
    // Its click areas in list order; empty in traces written before they were recorded.
    std::vector<ClickArea> areas;
};

// An element as the gauge left it: the last value its callback returned (none before
// the first update, or without a callback), its image_flags and read-out text now.
struct ElementState {
    std::optional<double> value;
    uint32_t image_flags = 0;
    std::optional<std::string> text;
};

using kestrel::KeyEvent;

// Appends key events as the trace stores them: [[id,value],...].
void append_key_events(std::string& out, const std::vector<KeyEvent>& events);

// Writes a trace. Every record is one line; the command record is flushed before the
// command runs, so after a crash the trace names the command that was running.
class TraceWriter {
public:
    // Throws TraceError naming the file when it cannot be created.
    explicit TraceWriter(const std::filesystem::path& path);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void gauge(const GaugeInfo& gauge);
    void command(int line, std::string_view text);
    void set_variable(int line, uint32_t token, double value);
    // `update` is the number of this update, counted from 1 over the whole run. `version`,
    // when given, says that `elements` held the same states as the last time they were
    // written with the same version: the writer then skips comparing them.
    void update(int line, uint64_t update, const std::vector<ElementState>& elements,
                const std::vector<KeyEvent>& sent, std::optional<uint64_t> version = {});
    // area: index of the click-area record that took the click, if any.
    void click(int line, int32_t x, int32_t y, uint32_t flags, std::optional<std::size_t> area,
               const std::vector<ElementState>& elements, const std::vector<KeyEvent>& sent);
    void service(int line, int32_t service_id, uint32_t extra, bool called, const std::vector<ElementState>& elements,
                 const std::vector<KeyEvent>& sent);
    void key(int line, KeyEvent event, const std::vector<ElementState>& elements, const std::vector<KeyEvent>& sent);
    void picture(int line, std::string_view label, uint64_t updates, const std::vector<ElementState>& elements);
    void expectation(int line, std::string_view command, bool passed, std::string_view message);
    // An `expect picture` the host cannot judge: the gauge's state with the reference and
    // tolerance, for the bench to draw and compare after the run.
    void picture_expectation(int line, std::string_view command, std::string_view reference, uint64_t tolerance,
                             uint64_t updates, const std::vector<ElementState>& elements);
    // The run stopped on a fault of the host or the module that it could report.
    void error(int line, std::string_view message);
    void end(int passed, int failed);

private:
    void append_states(std::string& out, const std::vector<ElementState>& elements,
                       std::optional<uint64_t> version = {});
    // The elements whose state differs from the one written last, as "changed".
    void append_changes(std::string& out, const std::vector<ElementState>& elements, std::optional<uint64_t> version);
    // The text of element i's state as written, refreshed if the state changed.
    const std::string& state_text(std::size_t i, const ElementState& state);
    // The one line buffer every record is composed in, emptied.
    std::string& fresh_line();
    std::string& open_record(std::string_view kind, int line);
    // Writes `line` and its end of line, which it appends to it; with `flush`, everything
    // written so far reaches the file.
    void write_line(std::string& line, bool flush);
    // The same for a record that already ends in its end of line.
    void write_record(const char* record, std::size_t size, bool flush);
    // Hands bytes, or the block (emptying it), to the file, and with `flush` the file's
    // buffers to the system; throws TraceError when the file takes less.
    void write_bytes(const char* bytes, std::size_t size, bool flush);
    void write_block(bool flush);

    std::FILE* file_ = nullptr;
    std::vector<char> block_;  // records not yet handed to the file
    std::size_t block_used_ = 0;
    uint64_t written_ = 0;
    std::filesystem::path path_;
    std::string line_;
    std::vector<ElementState> written_states_;  // per element: the state written last
    std::vector<std::string> written_texts_;    // and its text in the record
    // The states written last, and their version when the caller gave one.
    const std::vector<ElementState>* written_from_ = nullptr;
    std::optional<uint64_t> written_version_;
};

// A state of the gauge that can be drawn: a picture the scenario took, or an update.
struct Frame {
    std::string label;  // the picture's label, or "update-N"
    int line = 0;
    uint64_t updates = 0;  // updates run before this frame was taken
    std::vector<ElementState> elements;
};

struct ExpectationResult {
    int line = 0;
    std::string command;
    bool passed = false;
    std::string message;
};

// A picture expectation as the host recorded it; the bench judges it.
struct PictureExpectation {
    int line = 0;
    std::string command;    // the scenario line as written
    std::string reference;  // relative to the scenario's folder, checked as the parser checks it
    uint64_t tolerance = 0;
    Frame frame;            // the gauge's state when the line ran
};

// One key event, sent by module code ("module") or by the scenario ("scenario").
struct KeyLogEntry {
    int line = 0;
    uint64_t updates = 0;
    std::string source;
    std::string during;  // "update", "click", "service", "key"
    KeyEvent event;
};

// What the bench needs of a finished (or interrupted) run.
struct TraceSummary {
    std::optional<GaugeInfo> gauge;
    std::vector<Frame> pictures;
    std::optional<Frame> selected_update;  // the update asked for, if it was found
    std::vector<ExpectationResult> expectations;
    std::vector<PictureExpectation> picture_expectations;  // at most max_trace_pictures
    std::vector<KeyLogEntry> key_log;
    std::optional<int> last_command_line;  // the command started last
    std::string last_command_text;
    uint64_t updates = 0;
    std::optional<std::string> error;  // from an error record
    int error_line = 0;
    bool ended = false;  // the run reached its end record
};

// Reads a trace. A last line cut short by a crash is ignored; any other malformed line,
// or a trace beyond the bounds above, throws TraceError naming the file and line. With select_update, that update's state
// is kept as selected_update.
TraceSummary read_trace(const std::filesystem::path& path, std::optional<uint64_t> select_update = std::nullopt);

// The stored fields within the bounds above (positions, sizes, char_count, tables), so
// that drawing them can neither overflow nor run long. Throws TraceError.
void check_gauge(const GaugeInfo& gauge, const std::string& what);
// Every element's stored fields must agree with the frame: same count, texts bounded.
void check_frame(const GaugeInfo& gauge, const Frame& frame, const std::string& what);

}  // namespace kestrel::trace
