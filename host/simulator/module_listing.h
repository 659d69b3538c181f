// What the simulator would see of a module: its linkage, import entry, gauge headers,
// element trees and click-area lists, printed as text without any run-time address. The
// records are read from the file as stored (StoredModule), never by running the module.
#pragma once

#include <ostream>

#include "linkage.h"
#include "loader.h"
#include "stored_module.h"

namespace kestrel {

// Routines are shown as present or absent, and numbered by first appearance within the
// module ("routine #3"), so that shared routines show as shared and the text is the
// same from run to run.
// Throws HostError naming the file and the record at fault; then nothing is printed.
void inspect(const StoredModule& module, std::ostream& out);
// The records of a loaded module's file, read again from the file as stored.
void inspect(const LoadedModule& module, std::ostream& out);
// One gauge: header fields, element tree, click-area list.
void inspect_gauge(const GaugeHeader& header, std::ostream& out);

}  // namespace kestrel
