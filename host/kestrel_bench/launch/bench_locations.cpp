// The two layouts the bench runs from. A source tree keeps its builds under build/ and the
// delivered modules in dist/; an installed bench finds everything below its prefix, in the
// folders the build's install rules use (passed in as KESTREL_INSTALL_*).
#include "bench_locations.h"

#include <cstdlib>
#include <system_error>

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

bool same_folder(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

fs::path own_executable() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self;
}

Locations Locations::source_tree(const fs::path& root) { return {Layout::source_tree, root}; }

Locations Locations::installed(const fs::path& prefix) { return {Layout::installed, prefix}; }

Locations Locations::find(const std::optional<fs::path>& root) {
    if (root) return source_tree(*root);
    const fs::path folder = own_executable().parent_path();
    if (folder.empty() || same_folder(folder, KESTREL_BUILD_PROGRAM_DIR)) return source_tree(KESTREL_SOURCE_DIR);
    // PREFIX/bin/kestrel-bench: the prefix is as many folders up as the bin folder is deep.
    const fs::path bin = KESTREL_INSTALL_BIN_DIR;
    fs::path prefix = folder;
    for (auto part = bin.begin(); part != bin.end(); ++part) prefix = prefix.parent_path();
    return installed(prefix);
}

fs::path Locations::native_build() const {
    const fs::path optimized = base_ / "build" / "native-release";
    std::error_code error;
    if (fs::exists(optimized / "host" / "kestrel-host", error)) return optimized;
    return base_ / "build" / "native";
}

fs::path Locations::native_host() const {
    if (layout_ == Layout::installed) return base_ / KESTREL_INSTALL_HOST_DIR / "kestrel-host";
    return native_build() / "host" / "kestrel-host";
}

fs::path Locations::twin_modules() const {
    if (layout_ == Layout::installed) return base_ / KESTREL_INSTALL_TWIN_DIR;
    return native_build() / "modules";
}

std::vector<fs::path> Locations::gau_folders() const {
    if (layout_ == Layout::installed) return {base_ / KESTREL_INSTALL_GAU_DIR};
    return {base_ / "dist", base_ / "build" / "windows" / "modules"};
}

fs::path Locations::windows_host() const {
    if (layout_ == Layout::installed) return base_ / KESTREL_INSTALL_WINDOWS_DIR / "kestrel-host.exe";
    return base_ / "build" / "windows" / "host" / "kestrel-host.exe";
}

fs::path Locations::wine_run_script() const {
    return (layout_ == Layout::installed ? base_ / KESTREL_INSTALL_SCRIPT_DIR : base_ / "tools") / "wine-run.sh";
}

fs::path Locations::wine_probe_script() const {
    return (layout_ == Layout::installed ? base_ / KESTREL_INSTALL_SCRIPT_DIR : base_ / "tools") / "wine-works.sh";
}

fs::path Locations::page() const {
    if (layout_ == Layout::installed) return base_ / KESTREL_INSTALL_PAGE_DIR;
    return base_ / "host" / "kestrel_bench" / "serve" / "page";
}

fs::path Locations::demo_scenarios() const {
    if (layout_ == Layout::installed) return base_ / KESTREL_INSTALL_SCENARIO_DIR;
    return base_ / "scenarios";
}

std::vector<std::string> Locations::wine_environment() const {
    // The wine scripts keep their prefix in the source tree's build folder; an installed
    // bench keeps it in the user's cache instead, unless one is chosen already.
    if (layout_ == Layout::source_tree || !environment("WINEPREFIX").empty()) return {};
    const std::string cache = !environment("XDG_CACHE_HOME").empty() ? environment("XDG_CACHE_HOME")
                                                                      : environment("HOME") + "/.cache";
    return {"WINEPREFIX=" + cache + "/kestrel/wineprefix"};
}

std::string Locations::build_hint(const std::string& make_target) const {
    if (layout_ == Layout::installed) return "install it with 'make install' from a built Kestrel tree";
    return "build it with 'make " + make_target + "'";
}

}  // namespace kestrel::bench
