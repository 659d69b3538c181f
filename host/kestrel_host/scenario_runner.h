// `kestrel-host run`: plays one scenario on a loaded gauge module, checks its
// expectations and writes the trace that the bench draws from.
#pragma once

#include <filesystem>
#include <optional>

#include "run_status.h"

namespace kestrel {

struct RunOptions {
    std::filesystem::path scenario;
    std::optional<std::filesystem::path> trace;    // written as the scenario runs
    std::optional<std::filesystem::path> modules;  // the folder the module is looked up in
    std::optional<std::filesystem::path> module;   // this file instead of a lookup
    // The folder of the .gau files whose pictures give each gauge's size, when the module
    // run is not itself a .gau (the twin).
    std::optional<std::filesystem::path> pictures;
    bool real_module = false;  // look up NAME.gau whatever this build's own module format
};

// The module is NAME plus this build's extension in the modules folder (by default
// ../modules beside the program), or NAME.gau with real_module. Returns a run status.
int run_scenario(const RunOptions& options);

}  // namespace kestrel
