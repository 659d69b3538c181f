// Where the bench finds what it runs and reads: the 32-bit hosts, the twin and real
// modules, the wine scripts, the live panel's page and the demo scenarios. They lie in a
// Kestrel source tree with its builds (--root, or the tree this bench was built in when it
// runs from its build folder), or under the prefix the bench was installed into.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::bench {

class Locations {
public:
    enum class Layout { source_tree, installed };

    // --root when given; else the build tree when this program runs from the folder it
    // was built in; else the install prefix above this program's own folder.
    static Locations find(const std::optional<std::filesystem::path>& root);
    static Locations source_tree(const std::filesystem::path& root);
    static Locations installed(const std::filesystem::path& prefix);

    Layout layout() const { return layout_; }
    const std::filesystem::path& base() const { return base_; }  // the source tree or the prefix

    // The 32-bit native host: in a source tree the optimized build's, or the sanitized
    // test build's where only that one is built.
    std::filesystem::path native_host() const;
    std::filesystem::path twin_modules() const;
    // The folders of the real .gau files, in the order they are searched.
    std::vector<std::filesystem::path> gau_folders() const;
    std::filesystem::path windows_host() const;
    std::filesystem::path wine_run_script() const;
    std::filesystem::path wine_probe_script() const;
    std::filesystem::path page() const;
    std::filesystem::path demo_scenarios() const;
    // NAME=VALUE settings that a host under wine needs beside the bench's own environment.
    std::vector<std::string> wine_environment() const;
    // What to do when a file of these locations is missing, e.g. "build it with 'make dist'".
    std::string build_hint(const std::string& make_target) const;

private:
    Locations(Layout layout, std::filesystem::path base) : layout_(layout), base_(std::move(base)) {}
    std::filesystem::path native_build() const;

    Layout layout_;
    std::filesystem::path base_;
};

// This program's own file, as the kernel names it.
std::filesystem::path own_executable();

}  // namespace kestrel::bench
