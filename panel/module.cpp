// The KESTREL module's linkage for the 2004 host. Its gauges, the flight guidance panel
// and the autobrake selector, join the gauge table as they are built.
#include "linkage.h"

// One empty routine serves as both module init and module deinit.
extern "C" {
constinit LinkageRecord<0> Linkage = {
    .module_id = module_id_word,
    .module_init = module_init,
    .module_deinit = module_init,
    .module_flags = 0,
    .module_priority = 0,
    .module_version = module_version_2004,
    .gauge_table = {nullptr},
};
}
