// The KESTREL module's linkage for the 2004 host: the flight guidance panel first, then
// the autobrake selector.
#include "linkage.h"

#include "ap/ap_gauge.h"
#include "autobrake/autobrake_gauge.h"

// One empty routine serves as both module init and module deinit.
extern "C" {
constinit LinkageRecord<2> Linkage = {
    .module_id = module_id_word,
    .module_init = module_init,
    .module_deinit = module_init,
    .module_flags = 0,
    .module_priority = 0,
    .module_version = module_version_2004,
    .gauge_table = {&ap::ap_gauge, &autobrake::autobrake_gauge, nullptr},
};
}
