// What both modules share of their linkage: the import entry through which the host
// hands over its services, and the empty module init and deinit routines.
#include "linkage.h"

// panel_services is written by the host before it calls anything in the module.
constinit ImportTableRecord ImportTable = {
    .import_id = panel_services_import_id,
    .panel_services = nullptr,
    .terminator_id = 0,
    .terminator_pointer = nullptr,
};

void KESTREL_STDCALL module_init() {}
void KESTREL_STDCALL module_deinit() {}
