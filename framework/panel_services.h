// The host's table of panel services, as the modules call it. The host writes the
// table's address into ImportTable; every call reads that word afresh and calls through it.
#pragma once

#include "abi.h"

struct ElementHeader;
struct ModuleVar;

using ElementListQuery = uint32_t(KESTREL_STDCALL*)(ElementHeader* root);
using ElementListWithValue = uint32_t(KESTREL_STDCALL*)(ElementHeader* root, uint32_t host_value);
using TriggerKeyEvent = void(KESTREL_STDCALL*)(uint32_t event_id, uint32_t value);
using LookupVar = void(KESTREL_STDCALL*)(ModuleVar* variable);
using KeyEventListener = void(KESTREL_STDCALL*)(uint32_t event_id, uint32_t value, uint32_t user_data);
using ListenerRegistration = void(KESTREL_STDCALL*)(KeyEventListener listener, uint32_t user_data);
// A slot that no module calls; the host may put anything there.
using UnusedServiceSlot = void(KESTREL_STDCALL*)();

#pragma pack(push, 4)
struct PanelServices {
    UnusedServiceSlot unused_0x00[24];                  // host-owned
    ElementListQuery element_list_query;                // 0x60 host: (root)
    ElementListWithValue element_list_install;          // 0x64 host: (root, host value)
    ElementListQuery element_list_initialize;           // 0x68 host: (root)
    ElementListQuery element_list_update;               // 0x6C host: (root)
    ElementListWithValue element_list_generate;         // 0x70 host: (root, host value)
    ElementListQuery element_list_plot;                 // 0x74 host: (root)
    UnusedServiceSlot unused_0x78;                      // host-owned
    ElementListQuery element_list_kill;                 // 0x7C host: (root)
    UnusedServiceSlot unused_0x80[4];                   // host-owned
    TriggerKeyEvent trigger_key_event;                  // 0x90 host: (event id >= 0x10000, value)
    UnusedServiceSlot unused_0x94[3];                   // host-owned
    LookupVar lookup_var;                               // 0xA0 host: fills ModuleVar.value by token
    UnusedServiceSlot unused_0xA4[39];                  // host-owned
    ListenerRegistration register_key_event_handler;    // 0x140 host: (listener, user data)
    ListenerRegistration unregister_key_event_handler;  // 0x144 host: (listener, user data)
};
#pragma pack(pop)

KESTREL_OFFSET(PanelServices, element_list_query, 0x60);
KESTREL_OFFSET(PanelServices, element_list_install, 0x64);
KESTREL_OFFSET(PanelServices, element_list_initialize, 0x68);
KESTREL_OFFSET(PanelServices, element_list_update, 0x6C);
KESTREL_OFFSET(PanelServices, element_list_generate, 0x70);
KESTREL_OFFSET(PanelServices, element_list_plot, 0x74);
KESTREL_OFFSET(PanelServices, element_list_kill, 0x7C);
KESTREL_OFFSET(PanelServices, trigger_key_event, 0x90);
KESTREL_OFFSET(PanelServices, lookup_var, 0xA0);
KESTREL_OFFSET(PanelServices, register_key_event_handler, 0x140);
KESTREL_OFFSET(PanelServices, unregister_key_event_handler, 0x144);
KESTREL_SIZE(PanelServices, 0x148);

// ImportTable: the one import entry through which the host hands over its services.
#pragma pack(push, 4)
struct ImportTableRecord {
    uint32_t import_id;              // 0x0F: asks for the panel-service table
    PanelServices* panel_services;   // host-owned: written by the host before any module call
    uint32_t terminator_id;          // 0: end of the import list
    void* terminator_pointer;        // NULL: end of the import list
};
#pragma pack(pop)
KESTREL_OFFSET(ImportTableRecord, import_id, 0);
KESTREL_OFFSET(ImportTableRecord, panel_services, 4);
KESTREL_OFFSET(ImportTableRecord, terminator_id, 8);
KESTREL_OFFSET(ImportTableRecord, terminator_pointer, 12);
KESTREL_SIZE(ImportTableRecord, 16);

inline constexpr uint32_t panel_services_import_id = 0x0F;

#ifndef KESTREL_HOST
// Module side: the exported import entry, defined once in the framework.
extern "C" ImportTableRecord ImportTable;

namespace panel {

// The host may replace its table at any time before a call; never cache the pointer.
inline PanelServices& services() {
    return **static_cast<PanelServices* volatile*>(&ImportTable.panel_services);
}

inline void trigger_key_event(uint32_t event_id, uint32_t value) {
    services().trigger_key_event(event_id, value);
}

}  // namespace panel
#endif
