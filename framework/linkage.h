// Module linkage and gauge registration: the exported Linkage record, the GaugeHeader
// of each gauge, and the seven standard routines that forward to the host's services.
#pragma once

#include "abi.h"
#include "elements.h"
#include "mouse.h"
#include "panel_services.h"

struct GaugeHeader;

using ModuleRoutine = void(KESTREL_STDCALL*)();
using StandardRoutine = uint32_t(KESTREL_STDCALL*)();
using StandardRoutineWithValue = uint32_t(KESTREL_STDCALL*)(uint32_t host_value);
using GaugeCallback = void(KESTREL_STDCALL*)(GaugeHeader* gauge, int32_t service_id, uint32_t extra);

inline constexpr uint32_t module_id_word = 0x13;
inline constexpr uint32_t module_version_2002 = 0x800;
inline constexpr uint32_t module_version_2004 = 0x900;
inline constexpr uint32_t gauge_header_version = 0x320;

#pragma pack(push, 4)

struct GaugeHeader {
    uint32_t header_version;                      // module: 0x320
    const char* gauge_name;                       // module: name the host selects the gauge by
    ElementHeader** element_list;                 // module: variable holding the root element
    StandardRoutine query_routine;                // module
    StandardRoutineWithValue install_routine;     // module
    StandardRoutine initialize_routine;           // module
    StandardRoutine update_routine;               // module
    StandardRoutineWithValue generate_routine;    // module
    StandardRoutine draw_routine;                 // module
    StandardRoutine kill_routine;                 // module
    uint32_t host_owned_40;                       // host-owned
    uint32_t size_x_mm;                           // module: default width, host's unit
    uint32_t host_owned_48[8];                    // host-owned
    MouseRect* mouse_rect_list;                   // module: first click-area record
    GaugeCallback gauge_callback;                 // module: service events, or NULL
    uint32_t host_owned_88[28];                   // host-owned
};

// Linkage: the gauges of a module, followed by a NULL entry. The host reads the table
// inline, so the record's size depends on the number of gauges.
template <std::size_t GaugeCount>
struct LinkageRecord {
    uint32_t module_id;                         // module: 0x13
    ModuleRoutine module_init;                  // module: called once after load
    ModuleRoutine module_deinit;                // module: called once before unload
    uint32_t module_flags;                      // module: 0, host-owned meaning
    uint32_t module_priority;                   // module: 0, host-owned meaning
    uint32_t module_version;                    // module: 0x800 (2002 host) or 0x900 (2004 host)
    GaugeHeader* gauge_table[GaugeCount + 1];   // module: one per gauge, then NULL
};

#pragma pack(pop)

KESTREL_OFFSET(GaugeHeader, header_version, 0);
KESTREL_OFFSET(GaugeHeader, gauge_name, 4);
KESTREL_OFFSET(GaugeHeader, element_list, 8);
KESTREL_OFFSET(GaugeHeader, query_routine, 12);
KESTREL_OFFSET(GaugeHeader, install_routine, 16);
KESTREL_OFFSET(GaugeHeader, initialize_routine, 20);
KESTREL_OFFSET(GaugeHeader, update_routine, 24);
KESTREL_OFFSET(GaugeHeader, generate_routine, 28);
KESTREL_OFFSET(GaugeHeader, draw_routine, 32);
KESTREL_OFFSET(GaugeHeader, kill_routine, 36);
KESTREL_OFFSET(GaugeHeader, host_owned_40, 40);
KESTREL_OFFSET(GaugeHeader, size_x_mm, 44);
KESTREL_OFFSET(GaugeHeader, host_owned_48, 48);
KESTREL_OFFSET(GaugeHeader, mouse_rect_list, 80);
KESTREL_OFFSET(GaugeHeader, gauge_callback, 84);
KESTREL_OFFSET(GaugeHeader, host_owned_88, 88);
KESTREL_SIZE(GaugeHeader, 200);

KESTREL_OFFSET(LinkageRecord<1>, module_id, 0);
KESTREL_OFFSET(LinkageRecord<1>, module_init, 4);
KESTREL_OFFSET(LinkageRecord<1>, module_deinit, 8);
KESTREL_OFFSET(LinkageRecord<1>, module_flags, 12);
KESTREL_OFFSET(LinkageRecord<1>, module_priority, 16);
KESTREL_OFFSET(LinkageRecord<1>, module_version, 20);
KESTREL_OFFSET(LinkageRecord<1>, gauge_table, 24);
KESTREL_SIZE(LinkageRecord<1>, 32);
KESTREL_SIZE(LinkageRecord<2>, 36);

#ifndef KESTREL_HOST
// Module init and deinit: the modules keep no state that needs either.
void KESTREL_STDCALL module_init();
void KESTREL_STDCALL module_deinit();

// The seven standard routines, one set per gauge: each reads its own gauge's root
// through element_list at the time of the call and hands it on unchanged.
namespace standard_routines {

template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL query() { return panel::services().element_list_query(*gauge.element_list); }
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL install(uint32_t host_value) {
    return panel::services().element_list_install(*gauge.element_list, host_value);
}
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL initialize() { return panel::services().element_list_initialize(*gauge.element_list); }
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL update() { return panel::services().element_list_update(*gauge.element_list); }
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL generate(uint32_t host_value) {
    return panel::services().element_list_generate(*gauge.element_list, host_value);
}
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL draw() { return panel::services().element_list_plot(*gauge.element_list); }
template <GaugeHeader& gauge>
uint32_t KESTREL_STDCALL kill() { return panel::services().element_list_kill(*gauge.element_list); }

}  // namespace standard_routines

// A gauge header as the tables give it; every host-owned word stays zero.
template <GaugeHeader& gauge>
constexpr GaugeHeader make_gauge_header(const char* name, GaugeRoot& root, uint32_t size_x_mm,
                                        MouseRect* mouse_rect_list, GaugeCallback gauge_callback) {
    return {
        .header_version = gauge_header_version,
        .gauge_name = name,
        .element_list = &root.root,
        .query_routine = standard_routines::query<gauge>,
        .install_routine = standard_routines::install<gauge>,
        .initialize_routine = standard_routines::initialize<gauge>,
        .update_routine = standard_routines::update<gauge>,
        .generate_routine = standard_routines::generate<gauge>,
        .draw_routine = standard_routines::draw<gauge>,
        .kill_routine = standard_routines::kill<gauge>,
        .host_owned_40 = 0,
        .size_x_mm = size_x_mm,
        .host_owned_48 = {},
        .mouse_rect_list = mouse_rect_list,
        .gauge_callback = gauge_callback,
        .host_owned_88 = {},
    };
}
#endif
