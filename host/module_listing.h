// What the simulator would see of a module: its linkage, import entry, gauge headers,
// element trees and click-area lists, printed as text without any run-time address.
#pragma once

#include <ostream>

#include "linkage.h"
#include "loader.h"

namespace kestrel {

// Routines are shown as present or absent, and numbered by first appearance within the
// module ("routine #3"), so that shared routines show as shared and the text is the
// same from run to run.
void inspect(const LoadedModule& module, std::ostream& out);
// One gauge: header fields, element tree, click-area list.
void inspect_gauge(const GaugeHeader& header, std::ostream& out);

}  // namespace kestrel
