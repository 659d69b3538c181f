// The host's panel services: the PanelServices table that modules call through, the host
// variables that lookup_var reads, the key-event log and the key-event listeners.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "key_event.h"
#include "loader.h"
#include "panel_services.h"

namespace kestrel {

// The seven element-list operations, in the order of their slots.
enum class ElementListOperation { query, install, initialize, update, generate, plot, kill };
std::string_view operation_name(ElementListOperation operation);

// One call that reached an element_list_* slot. host_value is set only for install and generate.
struct ElementListCall {
    ElementListOperation operation;
    ElementHeader* root;
    std::optional<uint32_t> host_value;
    bool operator==(const ElementListCall&) const = default;
};

// What every element_list_* operation returns, so that a test sees the result come back.
inline constexpr uint32_t element_list_result = 1;

struct KeyEventRegistration {
    KeyEventListener listener;
    uint32_t user_data;
    bool operator==(const KeyEventRegistration&) const = default;
};

// The host side of the service table. The table's routines are plain __stdcall functions
// without a context, so one PanelHost is alive at a time: constructing a second one
// while another lives throws HostError. Every slot that no module may call stops the
// run with a message naming the slot's offset.
class PanelHost {
public:
    PanelHost();
    ~PanelHost();
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // The table whose address goes into a module's ImportTable.
    PanelServices& services();

    // Writes the table's address into the module's ImportTable and runs module_init.
    void attach(LoadedModule& module);
    // The same for a module's import entry that the caller holds directly (records linked
    // into a test): writes the table's address, runs nothing.
    void attach(ImportTableRecord& import_table);

    // Host variables by token; a token never set reads 0.0.
    void set_var(uint32_t token, double value);
    // Inline: every update reads a few dozen variables, nearly all from the table.
    double var(uint32_t token) const { return token < direct_tokens ? direct_vars_[token] : mapped_var(token); }
    // Tokens below direct_tokens sit in a table that never moves; direct_vars() is its
    // start, indexed by token.
    static constexpr uint32_t direct_tokens = 4096;
    const double* direct_vars() const { return direct_vars_.data(); }
    // Tokens in the order lookup_var was asked for them, while recording is on (the
    // default). A long replay turns it off: the log would grow with every update.
    const std::vector<uint32_t>& lookups() const { return lookups_; }
    void record_lookups(bool on) { recording_lookups_ = on; }

    // Every call that reached the seven element_list_* slots, in order.
    const std::vector<ElementListCall>& element_list_calls() const { return element_list_calls_; }
    void clear_element_list_calls() { element_list_calls_.clear(); }

    // Key events sent by module code through trigger_key_event: the whole log, and the
    // part not yet taken.
    const std::vector<KeyEvent>& key_events_sent() const { return key_events_sent_; }
    std::vector<KeyEvent> take_key_events();

    // A key event from elsewhere in the simulator: queued for the listeners (not logged
    // as sent by a module).
    void send_key_event(uint32_t id, uint32_t value);
    // Hands every queued key event to every registered listener, in order. The host
    // delivers only after the module entry that sent an event has returned; events sent
    // by a listener are delivered in the same pass. Throws HostError if listeners keep
    // sending events without end.
    void deliver_pending_key_events();
    std::size_t pending_key_events() const { return pending_.size(); }

    const std::vector<KeyEventRegistration>& listeners() const { return listeners_; }

    // The host that is alive, or nullptr.
    static PanelHost* active();

private:
    friend struct ServiceRoutines;
    // Out of line: inlined, the map's search would make every caller save registers it
    // needs only for the rare token above the table.
    [[gnu::noinline]] double mapped_var(uint32_t token) const;

    // Variables are read at every update, many times over: the tokens the simulator
    // numbers in the low thousands sit in a table, the rest in a map.
    std::vector<double> direct_vars_ = std::vector<double>(direct_tokens, 0.0);
    std::map<uint32_t, double> vars_;
    std::vector<uint32_t> lookups_;
    bool recording_lookups_ = true;
    std::vector<ElementListCall> element_list_calls_;
    std::vector<KeyEvent> key_events_sent_;
    std::size_t key_events_taken_ = 0;
    std::vector<KeyEvent> pending_;
    std::vector<KeyEventRegistration> listeners_;
};

}  // namespace kestrel
