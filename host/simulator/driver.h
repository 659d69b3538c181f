// Driving one gauge as the simulator does: its standard routines, an update of its element
// tree, clicks routed through its click areas, and its gauge callback. Read-outs get
// host text buffers guarded against overruns, checked after every entry into the module.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loader.h"
#include "records.h"
#include "services.h"

namespace kestrel {

// The seven standard routines, numbered as in the gauge header (1 query .. 7 kill).
enum class StandardRoutineId : int { query = 1, install, initialize, update, generate, draw, kill };
std::string_view standard_routine_name(StandardRoutineId routine);
// "query", "install", "initialize", "update", "generate", "draw", "kill" (also with the
// suffix "_routine"), or "1".."7"; nullopt for anything else.
std::optional<StandardRoutineId> standard_routine_by_name(std::string_view name);

// One element as an update left it.
struct ElementSample {
    std::size_t index;
    std::string_view label;             // the driver's own label of the element
    uint32_t kind;
    uint32_t resource_id;
    std::optional<double> value;       // the callback's result; nullopt without a callback
    uint32_t image_flags;              // read after the callback
    std::optional<std::string> text;   // read-outs: the buffer's text after the callback
};

struct UpdateResult {
    std::vector<ElementSample> samples;  // drawing order, every element
    std::vector<KeyEvent> key_events;    // sent by module code during the update
};

struct ClickResult {
    std::optional<std::size_t> area;     // index in the click-area list of the child that took it
    ClickHandler handler = nullptr;      // that child's handler (nullptr if none took it)
    int32_t result = 0;                  // the handler's result
    std::vector<KeyEvent> key_events;    // sent by module code during the click
    uint32_t help_id = 0;                // help shown at the point: innermost parent with help
    std::optional<std::string> tooltip;  // or tooltip, UTF-8
};

struct GaugeCallbackResult {
    bool called = false;                 // false when the header's gauge_callback is NULL
    std::vector<KeyEvent> key_events;
};

class GaugeDriver {
public:
    // The gauge with this name in a loaded module (attached to host beforehand).
    GaugeDriver(LoadedModule& module, PanelHost& host, std::string_view gauge_name);
    // A gauge whose records the caller holds directly (test-local records).
    // `bounds`: the memory the records must lie in (a loaded module's image); test-local
    // records pass none.
    GaugeDriver(GaugeHeader& header, PanelHost& host, const RecordBounds& bounds = no_bounds);
    ~GaugeDriver();
    GaugeDriver(const GaugeDriver&) = delete;
    GaugeDriver& operator=(const GaugeDriver&) = delete;

    GaugeHeader& header() const { return *header_; }
    std::string name() const;
    ElementHeader* root() const;

    // Every element in drawing order.
    const std::vector<ElementEntry>& elements() const { return elements_; }
    ElementHeader& element(std::size_t index) const;
    // Index of the element named by its drawing-order index "[N]" or its tree path "0.1";
    // throws HostError if none.
    std::size_t element_index(std::string_view label) const;
    // A read-out's current text (the host's buffer); throws HostError for other kinds.
    std::string text(std::size_t index) const;
    // Refills `into` with a read-out's text as copy_readout_text does; a short text in this
    // driver's buffers is compared first and copied only when it changed. False when
    // `into` already held the text; true when it changed, or may have.
    bool copy_text(const StringElement& readout, std::string& into) const;

    // Calls a standard routine (install and generate get host_value) and returns its result.
    uint32_t run_standard_routine(StandardRoutineId routine, uint32_t host_value = 0);
    uint32_t run_standard_routine(std::string_view name, uint32_t host_value = 0);

    // Refreshes embedded variables from the host variables, calls every callback in
    // drawing order, then delivers pending key events.
    UpdateResult update();
    // The same, refilling `result` in place: long runs reuse one result's storage.
    void update(UpdateResult& result);

    // The memory the gauge's records were checked against.
    const RecordBounds& bounds() const { return bounds_; }

    // The click-area list as read.
    const std::vector<MouseListEntry>& mouse_list() const { return mouse_list_; }
    // A click at a background pixel: the first child in list order that contains the
    // point (inside every enclosing parent too) and whose mouse_flags share a bit with
    // flags takes it.
    ClickResult click(int32_t x, int32_t y, uint32_t flags);

    // Calls gauge_callback(header, service_id, extra), then delivers pending key events.
    GaugeCallbackResult gauge_callback(int32_t service_id, uint32_t extra);

    // Checks every read-out buffer: guard bytes intact and the text NUL-terminated
    // within char_count + 1 bytes. Throws HostError naming the element and `after`.
    void check_text_buffers(std::string_view after, std::string_view element_label = {}) const;

private:
    struct TextBuffer;
    // Sixteen bytes of the arena, aligned so that whole chunks are compared at once.
    struct alignas(16) ArenaChunk {
        unsigned char bytes[16];
    };
    void provide_text_buffers();
    bool text_buffers_intact() const;
    // True when every byte of the arena and every text pointer is as the last check that
    // passed found them: nothing can have broken since.
    bool text_buffers_as_verified() const;
    void plan_updates();
    std::vector<KeyEvent> events_since(std::size_t log_size) const;

    GaugeHeader* header_;
    PanelHost* host_;
    RecordBounds bounds_;
    std::vector<ElementEntry> elements_;
    std::vector<MouseListEntry> mouse_list_;
    struct UpdateStep {
        ElementHeader* element;
        // The record's callback field, nullptr for kinds without one. Records are packed
        // to 4 bytes, so in a 64-bit host the field is read byte-wise.
        const void* callback;
        ModuleVar* vars;            // the variables the record embeds: one, a read-out's three
        StringElement* readout;     // read-outs only
    };
    std::vector<UpdateStep> plan_;  // drawing order
    // Every read-out's text and guard, one after the other, in arena_chunks_ chunks; then
    // as many again holding them as the last check that passed saw them.
    mutable std::vector<ArenaChunk> arena_;
    std::size_t arena_chunks_ = 0;
    // Keeps the arena as it is now as the state that passed.
    void remember_arena() const;
    std::vector<TextBuffer> buffers_;
    // Each read-out's text field in its record, and the host's buffer it must point at.
    struct WatchedPointer {
        char* const* field;
        const char* text;
    };
    std::vector<WatchedPointer> pointers_;
    uint32_t pointer_count_ = 0;  // pointers_.size(), asked after every entry
    static constexpr std::size_t chunks_per_round = 4;
    bool long_texts_ = false;  // a read-out of more than 15 characters
};

// A read-out's text as the host reads it: up to its NUL, and never past char_count + 1
// bytes. Refills `into`, keeping its storage.
void copy_readout_text(const StringElement& readout, std::string& into);

// Bytes after each read-out's buffer that no callback may touch, and their value.
inline constexpr std::size_t text_guard_size = 16;
inline constexpr unsigned char text_guard_byte = 0xCD;
// Read-outs claiming more characters than this are refused.
inline constexpr uint32_t max_char_count = 1024;

}  // namespace kestrel
