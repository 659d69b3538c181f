// The gauges of one module under one host, driven one action at a time: set a host
// variable, run updates, click, call a gauge callback, send a key event, run a standard
// routine. The scenario runner, the live session and the fuzzers all act through it, and
// only record or compare what it reports: the key events module code sent, the click
// area that took a click, and what every element shows now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"
#include "key_event.h"
#include "scenario.h"
#include "services.h"
#include "trace.h"

namespace kestrel {

// What one action did.
struct ActionReport {
    // Key events module code sent during the action, per gauge: an update's events go to
    // the gauge whose update sent them, a click's, service's or key's to the gauge named.
    std::vector<std::vector<KeyEvent>> sent;
    std::optional<std::size_t> area;  // click: the click-area record that took it
    bool called = false;              // service: the gauge callback is not NULL
    uint64_t updates = 0;             // updates this action ran
};

class PanelExecutor {
public:
    // The gauges drive one module's records under `host`; they stay owned by the caller.
    PanelExecutor(PanelHost& host, std::vector<GaugeDriver*> gauges);

    std::size_t gauge_count() const { return gauges_.size(); }
    GaugeDriver& driver(std::size_t gauge) const { return *gauges_.at(gauge).driver; }
    PanelHost& host() const { return host_; }

    // Called after every update of every gauge, with the number of updates run so far.
    using UpdateObserver = std::function<void(uint64_t update)>;

    void set_var(uint32_t token, double value);
    ActionReport update(uint64_t count, const UpdateObserver& after_each = {});
    ActionReport click(std::size_t gauge, int32_t x, int32_t y, uint32_t flags);
    ActionReport service(std::size_t gauge, int32_t service_id, uint32_t extra);
    // A key event from elsewhere in the simulator, handed to every listener.
    ActionReport key(std::size_t gauge, KeyEvent event);
    ActionReport standard_routine(std::size_t gauge, StandardRoutineId routine, uint32_t host_value);

    // The scenario actions that drive the gauge (set, update, click, service, key);
    // nullopt for the ones that only look (pictures and expectations).
    std::optional<ActionReport> apply(std::size_t gauge, const scenario::Action& action,
                                      const UpdateObserver& after_each = {});

    // What the gauge shows now: the value the last update's callback returned (none
    // before the first update, or without a callback), and every element's state.
    const std::optional<double>& value(std::size_t gauge, std::size_t element) const;
    const std::vector<trace::ElementState>& states(std::size_t gauge);
    // Changes whenever a call of states() found any state changed since the call before,
    // so that the same version means the same states.
    uint64_t states_version(std::size_t gauge) const;
    // The samples of the gauge's last update, as the driver took them.
    const UpdateResult& last_update(std::size_t gauge) const { return gauges_.at(gauge).last; }
    uint64_t update_count() const { return updates_; }

private:
    struct Gauge {
        GaugeDriver* driver;
        UpdateResult last;  // the last complete update
        UpdateResult next;  // the one being filled; the two take turns, keeping their storage
        std::vector<trace::ElementState> states;
        uint64_t states_version = 0;  // counts the calls of states() that changed them
        // Each element's record, and the read-out's too, in drawing order.
        struct Watched {
            const ElementHeader* element;
            const StringElement* readout;
        };
        std::vector<Watched> watched;
        // The value the last update's callback returned; none before the first update.
        const std::optional<double>& value(std::size_t element) const;
    };

    ActionReport report() const;
    // After an entry whose effects may reach any gauge (a listener of one gauge may
    // write into another's read-out): every gauge's buffers are checked.
    void check_all(std::string_view after) const;
    std::vector<KeyEvent> sent_since(std::size_t log_size) const;

    PanelHost& host_;
    std::vector<Gauge> gauges_;
    uint64_t updates_ = 0;
};

// An element's stored fields as a trace's gauge record holds them; its needle table must
// lie within bounds.
trace::ElementInfo element_info(const ElementEntry& entry, const RecordBounds& bounds);
// The gauge record of a trace for a driven gauge.
trace::GaugeInfo gauge_info(const GaugeDriver& driver, const std::string& scenario_file, const std::string& module,
                            const std::string& module_file);

}  // namespace kestrel
