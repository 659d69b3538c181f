// `kestrel-host run`: plays one scenario on a loaded gauge module, checks its
// expectations and writes the trace that the bench draws from.
#pragma once

#include "run_status.h"

namespace kestrel {

// argv holds the arguments after "run": SCENARIO [--trace FILE] [--modules DIR] [--real-module]
// [--module FILE]. The module is NAME plus this build's extension in the modules directory
// (by default ../modules beside the program), or NAME.gau with --real-module.
int run_command(int argc, char** argv);

// An element's stored fields as a trace's gauge record holds them (the live session too);
// its needle table must lie within bounds.
struct ElementEntry;
struct RecordBounds;
namespace trace {
struct ElementInfo;
}
trace::ElementInfo element_info(const ElementEntry& entry, const RecordBounds& bounds);

}  // namespace kestrel
