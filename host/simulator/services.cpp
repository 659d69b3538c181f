// The service table's routines. The table is one static object, so its address stays
// valid in a module's ImportTable whatever host comes and goes; each routine works on the
// PanelHost that is alive, and stops the run if a module calls it while none is.
#include "services.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kestrel {
namespace {

PanelHost* active_host = nullptr;

// Listeners that keep sending each other events would never let an entry finish.
constexpr std::size_t max_deliveries_per_pass = 100000;

[[noreturn]] void stop_run(const char* what) {
    std::fprintf(stderr, "kestrel host: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

PanelHost& host_for(const char* slot) {
    if (active_host == nullptr) {
        char message[160];
        std::snprintf(message, sizeof message, "module called panel service %s while no host is alive", slot);
        stop_run(message);
    }
    return *active_host;
}

// One trap per slot that the host does not offer, each naming its own offset.
template <std::size_t Offset>
void KESTREL_HOST_STDCALL trap() {
    char message[160];
    std::snprintf(message, sizeof message,
                  "module called panel service slot 0x%zX, which this host does not offer", Offset);
    stop_run(message);
}

template <std::size_t... Slot>
constexpr std::array<UnusedServiceSlot, sizeof...(Slot)> make_traps(std::index_sequence<Slot...>) {
    return {trap<Slot * sizeof(void*)>...};
}

constexpr std::size_t slot_count = sizeof(PanelServices) / sizeof(void*);
constexpr auto traps = make_traps(std::make_index_sequence<slot_count>{});

}  // namespace

struct ServiceRoutines {
    static uint32_t record(ElementListOperation operation, ElementHeader* root, std::optional<uint32_t> host_value) {
        host_for(operation_name(operation).data()).element_list_calls_.push_back({operation, root, host_value});
        return element_list_result;
    }
    template <ElementListOperation Operation>
    static uint32_t KESTREL_HOST_STDCALL element_list(ElementHeader* root) {
        return record(Operation, root, std::nullopt);
    }
    template <ElementListOperation Operation>
    static uint32_t KESTREL_HOST_STDCALL element_list_with_value(ElementHeader* root, uint32_t host_value) {
        return record(Operation, root, host_value);
    }
    static void KESTREL_HOST_STDCALL trigger_key_event(uint32_t event_id, uint32_t value) {
        PanelHost& host = host_for("trigger_key_event");
        host.key_events_sent_.push_back({event_id, value});
        host.pending_.push_back({event_id, value});
    }
    static void KESTREL_HOST_STDCALL lookup_var(ModuleVar* variable) {
        PanelHost& host = host_for("lookup_var");
        if (variable == nullptr) stop_run("module called lookup_var with a NULL ModuleVar");
        if (host.recording_lookups_) host.lookups_.push_back(variable->token);
        variable->value = host.var(variable->token);
    }
    static void KESTREL_HOST_STDCALL register_listener(KeyEventListener listener, uint32_t user_data) {
        PanelHost& host = host_for("register_key_event_handler");
        if (listener == nullptr) stop_run("module registered a NULL key-event listener");
        const KeyEventRegistration registration{listener, user_data};
        for (const KeyEventRegistration& each : host.listeners_)
            if (each == registration) return;  // registered once, however often asked
        host.listeners_.push_back(registration);
    }
    static void KESTREL_HOST_STDCALL unregister_listener(KeyEventListener listener, uint32_t user_data) {
        PanelHost& host = host_for("unregister_key_event_handler");
        std::erase(host.listeners_, KeyEventRegistration{listener, user_data});
    }

    static PanelServices make_table() {
        PanelServices table{};
        auto* slots = reinterpret_cast<UnusedServiceSlot*>(&table);
        for (std::size_t i = 0; i < slot_count; ++i) slots[i] = traps[i];
        using enum ElementListOperation;
        table.element_list_query = element_list<query>;
        table.element_list_install = element_list_with_value<install>;
        table.element_list_initialize = element_list<initialize>;
        table.element_list_update = element_list<update>;
        table.element_list_generate = element_list_with_value<generate>;
        table.element_list_plot = element_list<plot>;
        table.element_list_kill = element_list<kill>;
        table.trigger_key_event = trigger_key_event;
        table.lookup_var = lookup_var;
        table.register_key_event_handler = register_listener;
        table.unregister_key_event_handler = unregister_listener;
        return table;
    }
};

namespace {
PanelServices& service_table() {
    static PanelServices table = ServiceRoutines::make_table();
    return table;
}
}  // namespace

std::string_view operation_name(ElementListOperation operation) {
    switch (operation) {
        case ElementListOperation::query: return "element_list_query";
        case ElementListOperation::install: return "element_list_install";
        case ElementListOperation::initialize: return "element_list_initialize";
        case ElementListOperation::update: return "element_list_update";
        case ElementListOperation::generate: return "element_list_generate";
        case ElementListOperation::plot: return "element_list_plot";
        case ElementListOperation::kill: return "element_list_kill";
    }
    return "element_list_?";
}

PanelHost::PanelHost() {
    if (active_host != nullptr) throw HostError("a PanelHost is already alive: only one host serves modules at a time");
    active_host = this;
}

PanelHost::~PanelHost() {
    if (active_host == this) active_host = nullptr;
}

PanelHost* PanelHost::active() { return active_host; }

PanelServices& PanelHost::services() { return service_table(); }

void PanelHost::attach(ImportTableRecord& import_table) { import_table.panel_services = &services(); }

void PanelHost::attach(LoadedModule& module) {
    ImportTableRecord& import_table = module.import_table();
    if (import_table.import_id != panel_services_import_id) {
        char found[16];
        std::snprintf(found, sizeof found, "0x%X", import_table.import_id);
        throw HostError(module.path().generic_string() + ": ImportTable asks for import " + found +
                        ", not the panel services (0x0F)");
    }
    attach(import_table);
    module.run_module_init();
}

void PanelHost::set_var(uint32_t token, double value) {
    if (token < direct_tokens) direct_vars_[token] = value;
    else vars_[token] = value;
}

double PanelHost::mapped_var(uint32_t token) const {
    const auto found = vars_.find(token);
    return found != vars_.end() ? found->second : 0.0;
}

std::vector<KeyEvent> PanelHost::take_key_events() {
    std::vector<KeyEvent> taken(key_events_sent_.begin() + static_cast<std::ptrdiff_t>(key_events_taken_),
                                key_events_sent_.end());
    key_events_taken_ = key_events_sent_.size();
    return taken;
}

void PanelHost::send_key_event(uint32_t id, uint32_t value) { pending_.push_back({id, value}); }

void PanelHost::deliver_pending_key_events() {
    std::size_t delivered = 0;
    while (!pending_.empty()) {
        if (++delivered > max_deliveries_per_pass) {
            pending_.clear();
            throw HostError("key-event listeners kept sending events: more than " +
                            std::to_string(max_deliveries_per_pass) + " in one delivery");
        }
        const KeyEvent event = pending_.front();
        pending_.erase(pending_.begin());
        // A listener may register or unregister listeners while it runs: those registered
        // when the event is taken get it, unless unregistered before their turn.
        const std::vector<KeyEventRegistration> listeners = listeners_;
        for (const KeyEventRegistration& each : listeners)
            if (std::find(listeners_.begin(), listeners_.end(), each) != listeners_.end())
                each.listener(event.id, event.value, each.user_data);
    }
}

}  // namespace kestrel
