// Choosing and starting the host, and looking module files up: one implementation for
// run, demo and serve, so that they run the same host on the same files.
#include "host_launcher.h"

#include <ostream>
#include <system_error>

#include "child_process.h"
#include "module_lookup.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

// The probe may create the wine prefix, which takes a while on a fresh machine.
constexpr auto wine_probe_limit = std::chrono::minutes(5);

fs::path require_file(const fs::path& path, const std::string& hint) {
    std::error_code error;
    if (!fs::exists(path, error)) throw UsageError(display_path(path) + ": not found (" + hint + ")");
    return path;
}

bool path_exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

}  // namespace

std::string Host::description() const {
    const std::string program_file = program.empty() ? std::string("?") : display_path(program.back());
    switch (kind) {
        case HostKind::wine: return "wine, the Windows host " + program_file + " on the real .gau files";
        case HostKind::native_gau: return "the native host " + program_file + " on the real .gau files";
        case HostKind::twin: return "the native host " + program_file + " on the native twin";
    }
    return program_file;
}

std::vector<std::string> Host::command(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = program;
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

bool wine_runs(const Locations& locations, const fs::path& windows_host, const fs::path& log) {
    if (!path_exists(windows_host) || !path_exists(locations.wine_probe_script())) return false;
    try {
        const ChildExit exit = run_child({locations.wine_probe_script().string(), windows_host.string(), "--help"}, log,
                                         wine_probe_limit, locations.wine_environment());
        return exit.kind == ChildExit::Kind::exited && exit.code == 0;
    } catch (const std::exception&) {
        return false;
    }
}

Host choose_host(const Options& options, const Locations& locations, std::ostream& notes) {
    Host host;
    if (!options.native && !options.native_gau) {
        const fs::path windows_host = options.host.value_or(locations.windows_host());
        const fs::path log = options.out / "logs" / "wine-check.log";
        std::error_code error;
        fs::create_directories(log.parent_path(), error);
        if (wine_runs(locations, windows_host, log)) {
            host.kind = HostKind::wine;
            host.program = {require_file(locations.wine_run_script(), "the wine wrapper; " + locations.build_hint("windows")).string(),
                            windows_host.string()};
            host.environment = locations.wine_environment();
            return host;
        }
        notes << "NOTE: wine cannot run 32-bit Windows programs here (see " << display_path(log)
              << "); the real .gau files run in the native host instead.\n";
    }
    host.kind = options.native ? HostKind::twin : HostKind::native_gau;
    host.program = {require_file(options.host.value_or(locations.native_host()), locations.build_hint("native-release")).string()};
    host.environment = native_host_environment;
    return host;
}

std::vector<fs::path> gau_folders(const Options& options, const Locations& locations) {
    if (options.gau_dir) return {*options.gau_dir};
    return locations.gau_folders();
}

std::vector<fs::path> module_folders(const Options& options, const Locations& locations, HostKind kind) {
    if (options.modules) return {*options.modules};
    if (kind == HostKind::twin) return {locations.twin_modules()};
    return gau_folders(options, locations);
}

fs::path find_module(const std::vector<fs::path>& folders, const std::string& name, const std::string& extension) {
    std::string searched;
    for (const fs::path& folder : folders) {
        if (!path_exists(folder)) {
            searched += (searched.empty() ? "" : "; ") + display_path(folder) + ": no such folder";
            continue;
        }
        try {
            return require_module_file(folder, name, extension);
        } catch (const ModuleNotFound& error) {
            searched += (searched.empty() ? "" : "; ") + std::string(error.what());
        }
    }
    throw UsageError("no module " + name + extension + " (" + searched + ")");
}

std::optional<fs::path> folder_holding(const std::vector<fs::path>& folders, const std::string& name,
                                       const std::string& extension) {
    for (const fs::path& folder : folders) {
        if (!path_exists(folder)) continue;
        try {
            if (!find_module_file(folder, name, extension).empty()) return folder;
        } catch (const ModuleNotFound&) {
            // An unreadable folder: the next one may have the module.
        }
    }
    return std::nullopt;
}

fs::path module_folder_for(const std::vector<fs::path>& folders, const std::string& name, const std::string& extension) {
    if (std::optional<fs::path> folder = folder_holding(folders, name, extension)) return *folder;
    for (const fs::path& folder : folders)
        if (path_exists(folder)) return folder;
    std::string list;
    for (const fs::path& folder : folders) list += (list.empty() ? "" : ", ") + display_path(folder);
    throw UsageError(folders.size() == 1 ? list + ": the module folder does not exist"
                                         : "none of the module folders exists: " + list);
}

}  // namespace kestrel::bench
