// The one launcher of kestrel-host for every command: which host runs the modules (wine,
// the native host on the real .gau, or the native twin), the program and environment that
// start it, the wine probe that decides, and the one order in which module files are looked
// up by name, for the module a host loads and for the .gau the pictures are drawn from.
#pragma once

#include <filesystem>
#include <optional>
#include <iosfwd>
#include <string>
#include <vector>

#include "bench_locations.h"
#include "bench_options.h"

namespace kestrel::bench {

enum class HostKind { wine, native_gau, twin };

// The sanitized native host's leak check at exit cannot stop threads under a user-mode
// emulator and then never ends; leaks are not the bench's business, so it is off for
// every run of the native host.
inline const std::vector<std::string> native_host_environment = {"ASAN_OPTIONS=detect_leaks=0"};

struct Host {
    HostKind kind = HostKind::native_gau;
    std::vector<std::string> program;      // argv before the host's own arguments
    std::vector<std::string> environment;  // NAME=VALUE for the host

    // "wine (build/windows/host/kestrel-host.exe)" and the like, for the line that says
    // which host ran.
    std::string description() const;
    // The extension of the module files this host loads.
    const char* module_extension() const { return kind == HostKind::twin ? ".so" : ".gau"; }
    // The native host loads a .gau only when told to.
    bool real_module() const { return kind == HostKind::native_gau; }
    std::vector<std::string> command(const std::vector<std::string>& arguments) const;
};

// --native: the twin; --native-gau: the real .gau in the native host; else the .gau under
// wine where the probe finds that wine runs, and otherwise in the native host, with a note
// on `notes` that says so. The probe's output goes to out/logs/wine-check.log. Throws
// UsageError when the host program is missing.
Host choose_host(const Options& options, const Locations& locations, std::ostream& notes);

// Whether wine runs the Windows host here: it must answer --help within the probe's limit
// (its first run also creates the wine prefix). Never throws.
bool wine_runs(const Locations& locations, const std::filesystem::path& windows_host, const std::filesystem::path& log);

// The folders the module a host loads is looked for in, in order: --modules if given;
// else for the twin the native build's modules; else the .gau folders below.
std::vector<std::filesystem::path> module_folders(const Options& options, const Locations& locations, HostKind kind);
// The folders of the .gau files whose pictures are drawn: --gau-dir if given; else dist/,
// then build/windows/modules/ in a source tree; PREFIX/lib/kestrel/gau when installed.
std::vector<std::filesystem::path> gau_folders(const Options& options, const Locations& locations);

// The file of module NAME in the first folder that has it. Throws UsageError naming each
// folder and the modules it has when none has it.
std::filesystem::path find_module(const std::vector<std::filesystem::path>& folders, const std::string& name,
                                  const std::string& extension);
// The folder to hand the host for module NAME: the first that has it, else the first that
// exists, so that the host's own message names the module and lists what is there.
// The first folder that has module NAME, if any; a folder that cannot be read is passed over.
std::optional<std::filesystem::path> folder_holding(const std::vector<std::filesystem::path>& folders,
                                                    const std::string& name, const std::string& extension);
std::filesystem::path module_folder_for(const std::vector<std::filesystem::path>& folders, const std::string& name,
                                        const std::string& extension);

}  // namespace kestrel::bench
